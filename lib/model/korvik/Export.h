#pragma once

// Symbols of libkorvik-0 are hidden unless marked with KORVIK_API.
#if defined(_WIN32)
#  if defined(KORVIK_BUILDING_LIBRARY)
#    define KORVIK_API __declspec(dllexport)
#  else
#    define KORVIK_API __declspec(dllimport)
#  endif
#else
#  define KORVIK_API __attribute__((visibility("default")))
#endif
