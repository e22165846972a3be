// The version of mavo and mavo-check. It is given once, as the project's version in
// CMakeLists.txt, which passes it to everything built on mavo_core as MAVO_VERSION
// (a string literal, "1.3.0"), so that "mavo-check " MAVO_VERSION works as well.
#pragma once

#include <string_view>

#ifndef MAVO_VERSION
#error "MAVO_VERSION comes from CMakeLists.txt, as a definition of mavo_core"
#endif

constexpr std::string_view PROGRAM_VERSION = MAVO_VERSION;
