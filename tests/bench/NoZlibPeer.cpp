#include "PeerCrc.h"

PeerCrcFn GetPeerCrc() {
    return nullptr;
}
