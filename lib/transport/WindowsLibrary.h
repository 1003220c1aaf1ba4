#pragma once

#include "api/Library.h"

namespace KORVIK {

/// The registry with board discovery: finds boards among the host's network
/// adapters and rescans when adapters come or go. Library::instance() creates
/// the one process-wide object, which scans once during construction.
class WindowsLibrary : public Library {
public:
    WindowsLibrary();
    ~WindowsLibrary() override;

    /// Looks for boards that are not registered yet and registers them.
    void scan() override;
};

} // namespace KORVIK
