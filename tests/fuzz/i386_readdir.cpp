// libFuzzer's i386 runtime reads directories without large-file support.
// Where inode numbers do not fit 32 bits (most file systems today, and the
// i386 emulator passes them through), readdir fails with EOVERFLOW and every
// corpus directory looks empty. This readdir, linked into the i386 harness
// ahead of the C library's, reads through readdir64; libFuzzer uses the name
// and the type only.
#include <dirent.h>

#include <cstring>

extern "C" struct dirent* readdir(DIR* dir) {
    static thread_local struct dirent entry;
    const struct dirent64* wide = readdir64(dir);
    if (wide == nullptr) return nullptr;
    std::memset(&entry, 0, sizeof entry);
    entry.d_ino = static_cast<ino_t>(wide->d_ino);
    entry.d_reclen = sizeof entry;
    entry.d_type = wide->d_type;
    std::strncpy(entry.d_name, wide->d_name, sizeof entry.d_name - 1);
    return &entry;
}
