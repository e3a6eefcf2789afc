#include "platform/ZipFileIo.h"

#include <ioapi.h>
#include <cerrno>
#include <cstdio>

#include "platform/FileStream.h"

namespace sparkloom::platform {

namespace {

// The same steps as minizip's own fopen functions, plus the reason of each
// failure, read from errno right after the failing call.

void NoteErrno(voidpf opaque) {
    if (errno != 0) {
        static_cast<ZipFileIo*>(opaque)->Note(std::error_code(errno, std::generic_category()));
    }
}

FILE* File(voidpf stream) {
    return static_cast<FILE*>(stream);
}

voidpf Open(voidpf opaque, const void* filename, int mode) {
    const char* how = nullptr;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ) {
        how = "rb";
    } else if ((mode & ZLIB_FILEFUNC_MODE_EXISTING) != 0) {
        how = "r+b";
    } else if ((mode & ZLIB_FILEFUNC_MODE_CREATE) != 0) {
        how = "wb";
    }
    if (filename == nullptr || how == nullptr) {
        return nullptr;
    }
    const auto& path = *static_cast<const std::filesystem::path*>(filename);
    errno = 0;
    FILE* file = OpenFileStream(path, how);
    if (file == nullptr) {
        NoteErrno(opaque);
    }
    return file;
}

uLong Read(voidpf opaque, voidpf stream, void* buf, uLong size) {
    errno = 0;
    const size_t got = std::fread(buf, 1, size, File(stream));
    if (got < size && std::ferror(File(stream)) != 0) {
        NoteErrno(opaque);
    }
    return static_cast<uLong>(got);
}

uLong Write(voidpf opaque, voidpf stream, const void* buf, uLong size) {
    errno = 0;
    const size_t put = std::fwrite(buf, 1, size, File(stream));
    if (put < size) {
        NoteErrno(opaque);
    }
    return static_cast<uLong>(put);
}

ZPOS64_T Tell(voidpf opaque, voidpf stream) {
    errno = 0;
    const int64_t at = TellFileStream(File(stream));
    if (at < 0) {
        NoteErrno(opaque);
    }
    return static_cast<ZPOS64_T>(at);
}

long Seek(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin) {
    int whence = SEEK_SET;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_CUR:
            whence = SEEK_CUR;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            whence = SEEK_END;
            break;
        case ZLIB_FILEFUNC_SEEK_SET:
            break;
        default:
            return -1;
    }
    // Seeking flushes what stdio holds, so a full disk often shows here first.
    errno = 0;
    if (SeekFileStream(File(stream), static_cast<int64_t>(offset), whence) != 0) {
        NoteErrno(opaque);
        return -1;
    }
    return 0;
}

int Close(voidpf opaque, voidpf stream) {
    errno = 0;
    const int result = std::fclose(File(stream));
    if (result != 0) {
        NoteErrno(opaque);
    }
    return result;
}

int TestError(voidpf, voidpf stream) {
    return std::ferror(File(stream));
}

}  // namespace

void ZipFileIo::Fill(zlib_filefunc64_def_s& def) {
    def.zopen64_file = Open;
    def.zread_file = Read;
    def.zwrite_file = Write;
    def.ztell64_file = Tell;
    def.zseek64_file = Seek;
    def.zclose_file = Close;
    def.zerror_file = TestError;
    def.opaque = this;
}

}  // namespace sparkloom::platform
