#pragma once

#include <string>

/// A private user data directory for this test program (XDG_DATA_HOME),
/// set before anything asks GLib for it and removed at exit.
const std::string& test_data_dir();
