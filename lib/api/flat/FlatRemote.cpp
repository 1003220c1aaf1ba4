// Flat interface: boards of korvikd servers.

#include "api/flat/FlatCommon.h"

#include <korvik/Servers.h>

#include <stdexcept>

using namespace KORVIK;
using namespace KORVIK::flat;

extern "C" {

KORVIK_API int KORVIK_CALL libkorvik_connect_server(const char* uri, char** error)
{
    return guard(-1, [&] {
        if (!uri)
            return -1;
        try {
            KORVIK::Servers::connect(uri);
        } catch (const std::runtime_error& e) {
            if (error)
                *error = dup_string(e.what());
            throw;
        }
        return 0;
    });
}

KORVIK_API int KORVIK_CALL libkorvik_disconnect_server(const char* uri)
{
    return guard(-1, [&] { return uri && KORVIK::Servers::disconnect(uri) ? 0 : -1; });
}

} // extern "C"
