#include "board/NvFile.h"

#include <cstring>
#include <iostream>

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <glibmm/miscutils.h>

#include "model/common/Diagnostics.h"

namespace KORVIK {
namespace nvfile {

std::string path_for_serial(const std::string& serial)
{
    std::string name = serial;
    for (char& c : name) {
        bool safe = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                    c == '_';
        if (!safe)
            c = '_';
    }
    return Glib::build_filename(Glib::get_user_data_dir(), "korvik_" + name + ".nvr");
}

void read(const std::string& path, uint8_t sector[SIZE])
{
    std::memset(sector, 0xFF, SIZE);
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    GFileInputStream* stream = g_file_read(file, nullptr, &error);
    if (stream) {
        gsize got = 0;
        // stops at SIZE bytes or at the end of the file; what is not read stays 0xFF
        g_input_stream_read_all(G_INPUT_STREAM(stream), sector, SIZE, &got, nullptr, &error);
        g_object_unref(stream);
    }
    if (error) {
        if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND))
            diag() << "nvfile::read: " << path << ": " << error->message << std::endl;
        g_error_free(error);
    }
    g_object_unref(file);
}

bool write(const std::string& path, const uint8_t sector[SIZE])
{
    std::string dir = Glib::path_get_dirname(path);
    g_mkdir_with_parents(dir.c_str(), 0700);
    GFile* file = g_file_new_for_path(path.c_str());
    GError* error = nullptr;
    // written to a temporary file in the same directory and renamed over the old one
    gboolean ok = g_file_replace_contents(file, reinterpret_cast<const char*>(sector), SIZE, nullptr, FALSE,
                                          G_FILE_CREATE_NONE, nullptr, nullptr, &error);
    if (!ok) {
        diag() << "nvfile::write: " << path << ": " << (error ? error->message : "failed") << std::endl;
        if (error)
            g_error_free(error);
    }
    g_object_unref(file);
    return ok;
}

} // namespace nvfile
} // namespace KORVIK
