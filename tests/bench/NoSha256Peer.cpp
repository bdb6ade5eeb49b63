#include "PeerSha256.h"

PeerSha256Fn GetPeerSha256() {
    return nullptr;
}

const char* PeerSha256Name() {
    return "none";
}
