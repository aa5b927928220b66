/* The resource ids the program and its resource script share, and the
   version, which CMake's project version gives (Version.h, generated). */
#pragma once

#define IDI_VANDREL 1
