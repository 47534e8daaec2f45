// The program's version, shared by its version resource and its log. Plain
// definitions only: the resource compiler reads this file too.
#pragma once

#define UPDATE_VERSION 1, 0, 0, 0
#define UPDATE_VERSION_TEXT "1.0.0.0"
