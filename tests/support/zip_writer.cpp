// SPDX-License-Identifier: Apache-2.0
#include "tests/support/zip_writer.h"

#include <zlib.h>

void put(std::string& out, uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out += static_cast<char>(value >> (8 * i) & 0xff);
}

std::string zip(const std::vector<zip_member>& members, const zip_layout& layout)
{
    // zlib's format less its 2-byte header and 4-byte checksum: raw deflate.
    const auto deflated = [](const std::string& data) {
        uLongf size = compressBound(data.size());
        std::string out(size, '\0');
        compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()), data.size(), 9);
        return out.substr(2, size - 6);
    };
    std::string body;
    std::string directory;
    for (const zip_member& member : members) {
        const std::string data = member.method == 8 ? deflated(member.data) : member.data;
        const uint64_t offset = body.size();
        const bool big = layout.zip64_extra;
        std::string extra;
        if (big) {
            put(extra, 1, 2), put(extra, 24, 2);
            put(extra, member.data.size(), 8), put(extra, data.size(), 8), put(extra, offset, 8);
        }
        std::string common; // version, flags, method, time, CRC, sizes, name length
        put(common, 45, 2), put(common, member.flags, 2), put(common, member.method, 2), put(common, 0, 4);
        put(common, crc32(0, reinterpret_cast<const Bytef*>(member.data.data()), static_cast<uInt>(member.data.size())), 4);
        put(common, big ? 0xffffffff : data.size(), 4), put(common, big ? 0xffffffff : member.data.size(), 4);
        put(common, member.name.size(), 2);
        put(body, 0x04034b50, 4), body += common, put(body, 0, 2), body += member.name + data;
        put(directory, 0x02014b50, 4), put(directory, 45, 2), directory += common;
        put(directory, extra.size(), 2), put(directory, 0, 6), put(directory, 0, 4);
        put(directory, big ? 0xffffffff : offset, 4);
        directory += member.name + extra;
    }
    std::string out = body + directory;
    const bool big = layout.zip64;
    if (big) {
        const uint64_t end64 = layout.prefix.size() + out.size();
        put(out, 0x06064b50, 4), put(out, 44, 8), put(out, 45, 2), put(out, 45, 2), put(out, 0, 8);
        put(out, members.size(), 8), put(out, members.size(), 8), put(out, directory.size(), 8), put(out, body.size(), 8);
        put(out, 0x07064b50, 4), put(out, 0, 4), put(out, end64, 8), put(out, 1, 4);
    }
    put(out, 0x06054b50, 4), put(out, 0, 4), put(out, big ? 0xffff : members.size(), 2);
    put(out, big ? 0xffff : members.size(), 2), put(out, big ? 0xffffffff : directory.size(), 4);
    put(out, big ? 0xffffffff : body.size(), 4), put(out, layout.comment.size(), 2);
    return layout.prefix + out + layout.comment;
}
