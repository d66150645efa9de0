// Symbols of the reference host's shared library (libvelora_reference.so).
//
// The project builds with hidden visibility; what the previewer, the three
// host modules and the tests reach across shared objects is marked here.
#pragma once

#define VELORA_REFERENCE_API __attribute__((visibility("default")))
