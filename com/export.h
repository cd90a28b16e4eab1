// Symbol visibility for the COM-like runtime, which is one shared library for the whole process.
#pragma once

#define PULLWIRE_COM_API __attribute__((visibility("default")))
