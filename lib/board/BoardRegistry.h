#pragma once

namespace KORVIK {

class EvUSBBoard;

/// The part of the board registry a board itself uses: leaving it.
class BoardRegistry {
public:
    /// Emits the disconnect signal and drops the registry's reference when
    /// this very board is registered; otherwise only a diagnostic line.
    virtual void release_board(EvUSBBoard* board) = 0;

protected:
    // boards never own their registry
    ~BoardRegistry() = default;
};

} // namespace KORVIK
