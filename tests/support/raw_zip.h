// A zip archive of stored entries, written byte by byte, for archives no packer makes: several
// central records naming one stored stream, and zip64 archives past 4 GiB whose large entries
// are runs of zero bytes left as holes (written sparsely, they cost no disk). Names are the
// bytes the archive holds; flags are the entry's general-purpose bits (0x800: UTF-8 name).
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class RawZip {
public:
    // A run of bytes at an offset of the archive; what lies between two pieces is zero bytes.
    struct Piece {
        std::uint64_t offset;
        std::string bytes;
    };

    void Add(const std::string& name, const std::string& data, unsigned flags = 0)
    {
        const auto crc = crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
        AddEntry(name, data.size(), crc, flags);
        m_pieces.back().bytes += data;
        m_end += data.size();
    }
    // An entry of size zero bytes whose data is a hole of the archive.
    void AddZeros(const std::string& name, std::uint64_t size)
    {
        AddEntry(name, size, ZerosCrc(size), 0);
        m_end += size;
    }
    // One more central record for the stream of entry `index`, under a name of the same length
    // (the local header's name length must match).
    void AddAlias(std::size_t index, const std::string& name)
    {
        Entry alias = m_entries.at(index);
        alias.name = name;
        m_entries.push_back(alias);
    }

    // Every piece, the central directory and the end records last.
    std::vector<Piece> Pieces() const
    {
        std::vector<Piece> pieces = m_pieces;
        pieces.push_back(Piece{m_end, CentralAndEnd()});
        return pieces;
    }
    // The whole archive in memory, holes as zero bytes: for small archives.
    std::string Bytes() const
    {
        std::string out;
        for (const Piece& p : Pieces()) {
            out.resize(static_cast<std::size_t>(p.offset), '\0');
            out += p.bytes;
        }
        return out;
    }

private:
    static constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;

    struct Entry {
        std::string name;
        std::uint64_t size;
        unsigned long crc;
        std::uint64_t offset;
        unsigned flags;
    };

    // CRC-32 of a run of zeros, by doubling: crc(A B) = combine(crc(A), crc(B), |B|). Lengths
    // handed to zlib stay below 2 GiB, which its z_off_t holds on every platform.
    static unsigned long ZerosCrc(std::uint64_t size)
    {
        constexpr std::uint64_t kRun = std::uint64_t{1} << 30;
        unsigned long result = crc32(0L, Z_NULL, 0);
        for (; size > 0; size -= size < kRun ? size : kRun) {
            const std::uint64_t n = size < kRun ? size : kRun;
            result = crc32_combine(result, ShortZerosCrc(n), static_cast<z_off_t>(n));
        }
        return result;
    }
    static unsigned long ShortZerosCrc(std::uint64_t size)
    {
        unsigned long result = crc32(0L, Z_NULL, 0);
        const unsigned char zero = 0;
        unsigned long run = crc32(0L, &zero, 1);  // of 1 << bit zeros
        for (int bit = 0; size >> bit; ++bit) {
            const auto runBytes = static_cast<z_off_t>(std::uint64_t{1} << bit);
            if ((size >> bit) & 1) result = crc32_combine(result, run, runBytes);
            run = crc32_combine(run, run, runBytes);
        }
        return result;
    }
    static void U16(std::string& s, unsigned v)
    {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
    }
    static void U32(std::string& s, std::uint32_t v)
    {
        U16(s, v & 0xFFFF);
        U16(s, v >> 16);
    }
    static void U64(std::string& s, std::uint64_t v)
    {
        U32(s, static_cast<std::uint32_t>(v));
        U32(s, static_cast<std::uint32_t>(v >> 32));
    }
    static std::uint32_t Field32(std::uint64_t v) { return v >= kMax32 ? kMax32 : static_cast<std::uint32_t>(v); }

    void AddEntry(const std::string& name, std::uint64_t size, unsigned long crc, unsigned flags)
    {
        const Entry e{name, size, crc, m_end, flags};
        m_entries.push_back(e);
        std::string local;
        const bool zip64 = size >= kMax32;
        std::string extra;
        if (zip64) {
            U16(extra, 0x0001);
            U16(extra, 16);
            U64(extra, size);
            U64(extra, size);
        }
        U32(local, 0x04034b50);
        U16(local, zip64 ? 45 : 20);  // needed to extract
        Common(local, e, extra.size());
        local += name + extra;
        m_pieces.push_back(Piece{m_end, local});
        m_end += local.size();
    }
    // From the flags to the extra field's length, alike in both headers.
    static void Common(std::string& s, const Entry& e, std::size_t extraBytes)
    {
        U16(s, e.flags);  // sizes in the header; 0x800: UTF-8 name
        U16(s, 0);        // stored
        U16(s, 0);        // time
        U16(s, 0x21);     // date 1980-01-01
        U32(s, static_cast<std::uint32_t>(e.crc));
        U32(s, Field32(e.size));
        U32(s, Field32(e.size));
        U16(s, static_cast<unsigned>(e.name.size()));
        U16(s, static_cast<unsigned>(extraBytes));
    }
    std::string CentralAndEnd() const
    {
        std::string central;
        bool zip64 = m_entries.size() >= 0xFFFF || m_end >= kMax32;
        for (const Entry& e : m_entries) {
            // The zip64 field holds, in this order, only the figures too large for their field.
            std::string extra;
            if (e.size >= kMax32) {
                U64(extra, e.size);
                U64(extra, e.size);
            }
            if (e.offset >= kMax32) U64(extra, e.offset);
            if (!extra.empty()) {
                const std::string figures = extra;
                extra.clear();
                U16(extra, 0x0001);
                U16(extra, static_cast<unsigned>(figures.size()));
                extra += figures;
                zip64 = true;
            }
            U32(central, 0x02014b50);
            U16(central, 45);                      // made by
            U16(central, extra.empty() ? 20 : 45);  // needed to extract
            Common(central, e, extra.size());
            U16(central, 0);  // comment
            U16(central, 0);  // disk
            U16(central, 0);  // internal attributes
            U32(central, 0);  // external attributes
            U32(central, Field32(e.offset));
            central += e.name + extra;
        }
        std::string out = central;
        const std::uint64_t count = m_entries.size();
        const std::uint64_t centralOffset = m_end;
        if (zip64) {
            const std::uint64_t recordOffset = m_end + central.size();
            U32(out, 0x06064b50);
            U64(out, 44);  // the record's size after this field
            U16(out, 45);
            U16(out, 45);
            U32(out, 0);
            U32(out, 0);
            U64(out, count);
            U64(out, count);
            U64(out, central.size());
            U64(out, centralOffset);
            U32(out, 0x07064b50);  // locator
            U32(out, 0);
            U64(out, recordOffset);
            U32(out, 1);
        }
        U32(out, 0x06054b50);
        U16(out, 0);
        U16(out, 0);
        U16(out, count >= 0xFFFF ? 0xFFFF : static_cast<unsigned>(count));
        U16(out, count >= 0xFFFF ? 0xFFFF : static_cast<unsigned>(count));
        U32(out, Field32(central.size()));
        U32(out, Field32(centralOffset));
        U16(out, 0);
        return out;
    }

    std::vector<Entry> m_entries;
    std::vector<Piece> m_pieces;
    std::uint64_t m_end = 0;
};

}  // namespace testing_support
