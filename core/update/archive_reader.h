// Reading the game package with minizip: opening it, and an entry's central header with its
// name as the packer meant it and the checked target below the client directory. The walk's
// planning pass and each of its unpacking threads use these, each on a handle of its own.
#pragma once
#include <minizip/unzip.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "core/update/archive_file.h"
#include "core/update/update_context.h"

namespace core {

// Log lines of the package walk carry this name, whichever of its threads writes them.
inline constexpr char kWalkFunction[] = "CGameRemoteConfig::OnUnzipFile";

// A minizip handle on the package and the file below it (see archive_file.h). A minizip handle
// keeps one read position, so no two threads may share one.
class Archive {
public:
    Archive() = default;
    Archive(std::unique_ptr<ArchiveFile> file, unzFile handle) : m_file(std::move(file)), m_handle(handle) {}
    unzFile get() const { return m_handle.get(); }
    ArchiveFile& file() const { return *m_file; }
    explicit operator bool() const { return m_handle != nullptr; }
    void reset()
    {
        m_handle.reset();
        m_file.reset();
    }

private:
    struct Closer {
        void operator()(std::remove_pointer_t<unzFile>* archive) const { unzClose(archive); }
    };
    // Declared first, so that it outlives the handle that reads it.
    std::unique_ptr<ArchiveFile> m_file;
    std::unique_ptr<std::remove_pointer_t<unzFile>, Closer> m_handle;
};

// The package opened for reading, positioned on its first entry; empty when it cannot be opened
// or minizip finds no archive in it.
Archive OpenArchive(UpdateContext& ctx, const std::wstring& packagePath);

// Why an entry cannot be unpacked: the text for the log and the line of the check that found it.
// The finder hands it on rather than logging it: a thread of the walk first stops the others,
// then logs.
struct EntryFault {
    int line = 0;
    std::wstring text;
    explicit operator bool() const { return !text.empty(); }
};

// Writes the fault to the log ("ERROR", under the walk's name).
void LogFault(UpdateContext& ctx, const EntryFault& fault);

// An entry's central header and its name as the packer meant it.
struct EntryHeader {
    unz_file_info64 info{};
    std::wstring name;
    std::wstring target;  // set by CheckEntryTarget
};

// Room for the header's extra field, where a Unicode Path name may be; its length is a 16-bit
// number. Kept apart from the stack: the walk's threads have one each.
struct HeaderBuffer {
    char extraField[0x10000];
};

// Reads the current entry's header and name (entryNumber, from 1, is for the log). A fault when
// the header is unreadable or the name does not fit the name buffer.
EntryFault ReadEntryHeader(UpdateContext& ctx, unzFile archive, std::uint64_t entryNumber, HeaderBuffer& buffer,
                           EntryHeader& header);

// Sets the target, or gives a fault for a name that would leave the client directory or whose
// target path does not fit the path buffer.
EntryFault CheckEntryTarget(UpdateContext& ctx, EntryHeader& header);

}  // namespace core
