#pragma once

// the registry sits below the transport layer; code above it may keep this name
#include "registry/Library.h"
