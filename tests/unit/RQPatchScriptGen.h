// Writes patch scripts of the shape a content tool produces: entry tables of
// strings and numbers built through small helper functions, grouped into
// closures (one Lua function holds at most 2^18 constants), a loop, and a
// deletion list.
#pragma once

#include <cstdio>
#include <string>

inline std::string MakePatchScript(int nEntries) {
    std::string s;
    s.reserve(static_cast<size_t>(nEntries) * 90 + 1024);
    s += "-- PATCHER_CODE.LUA\n"
         "local P = { \"\", \"data\\\\\", \"data\\\\map\\\\\", \"sound\\\\bgm\\\\\" }\n"
         "local function F(p, name, crc, size, flag)\n"
         "  return { P[p], name, crc, 0, size, 0, 0, 0, flag or 1, 0, 0, 0 }\n"
         "end\n"
         "CODE_TABLE = {}\n"
         "local T = CODE_TABLE\n"
         "local function add(e) T[#T + 1] = e end\n";
    char szLine[160];
    const int nLooped = nEntries >= 100 ? 100 : 0;
    const int nListed = nEntries - nLooped;
    for (int i = 0; i < nListed; ++i) {
        if (i % 5000 == 0) {
            s += i == 0 ? "(function()\n" : "end)();\n(function()\n";
        }
        std::snprintf(szLine, sizeof(szLine), "add(F(%d, \"file%07d.dat\", %u, %d))\n", 1 + i % 3, i,
                      static_cast<unsigned>(i) * 2654435761u, 1000 + i);
        s += szLine;
    }
    if (nListed > 0) {
        s += "end)();\n";
    }
    if (nLooped > 0) {
        std::snprintf(szLine, sizeof(szLine),
                      "for i = 1, %d do\n"
                      "  add(F(4, string.format(\"bgm%%03d.ogg\", i), 4000000000 + i, 2048 * i, i %% 2))\n"
                      "end\n",
                      nLooped);
        s += szLine;
    }
    s += "DELETE_CODE_TABLE = { { \"old\\\\\", \"gone.dat\", 0 }, { \"\", \"obsolete.bin\", 7 } }\n";
    return s;
}
