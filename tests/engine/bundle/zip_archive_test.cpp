// The bundle's ZIP reader on hostile archives: each is built here byte by
// byte, and each must be refused with a message that says what is wrong,
// before anything is inflated past what the archive declares.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <zlib.h>

#include <romwright/error.hpp>

#include "engine/bundle/zip_archive.hpp"
#include "engine/bundle/zip_writer.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
namespace bundle = romwright::bundle;

// One file of a hand-built archive: what its local header and its central
// directory entry say, each field set by the case.
struct Entry {
    std::string name;
    Bytes data;  // as stored in the archive
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t compressed = 0;
    uint32_t size = 0;
    std::string local_name;          // "" : the name
    int64_t offset = -1;             // the central entry's local offset; -1: where it was written
    bool local = true;               // write the local header and data
};

Entry stored(const std::string &name, const Bytes &bytes) {
    Entry e;
    e.name = name;
    e.data = bytes;
    e.crc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), bytes.data(), static_cast<uInt>(bytes.size())));
    e.compressed = e.size = static_cast<uint32_t>(bytes.size());
    return e;
}

Entry deflated(const std::string &name, const Bytes &bytes) {
    Entry e = stored(name, bytes);
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&stream, static_cast<uLong>(bytes.size())));
    stream.next_in = const_cast<Bytef *>(bytes.data());
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    e.data = out;
    e.method = 8;
    e.compressed = static_cast<uint32_t>(out.size());
    return e;
}

void put16(Bytes &out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(Bytes &out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

struct End {
    uint16_t disk = 0;
    int32_t count = -1;  // -1: the entries' count
    int64_t directory_offset = -1;
    std::string comment;
};

Bytes build(const std::vector<Entry> &entries, const End &end = {}) {
    Bytes out, directory;
    for (const Entry &e : entries) {
        const uint32_t offset = e.offset >= 0 ? static_cast<uint32_t>(e.offset) : static_cast<uint32_t>(out.size());
        const auto header = [&e](Bytes &to, bool central, uint32_t at) {
            const std::string &name = central || e.local_name.empty() ? e.name : e.local_name;
            put32(to, central ? 0x02014b50 : 0x04034b50);
            if (central) put16(to, 20);
            put16(to, 20);
            put16(to, e.flags);
            put16(to, e.method);
            put16(to, 0);
            put16(to, 0x21);
            put32(to, e.crc);
            put32(to, e.compressed);
            put32(to, e.size);
            put16(to, static_cast<uint32_t>(name.size()));
            put16(to, 0);
            if (central) {
                put16(to, 0);
                put16(to, 0);
                put16(to, 0);
                put32(to, 0);
                put32(to, at);
            }
            to.insert(to.end(), name.begin(), name.end());
        };
        if (e.local) {
            header(out, false, 0);
            out.insert(out.end(), e.data.begin(), e.data.end());
        }
        header(directory, true, offset);
    }
    const auto directory_offset = static_cast<uint32_t>(end.directory_offset >= 0 ? end.directory_offset : out.size());
    out.insert(out.end(), directory.begin(), directory.end());
    const uint32_t count = end.count >= 0 ? static_cast<uint32_t>(end.count) : static_cast<uint32_t>(entries.size());
    put32(out, 0x06054b50);
    put16(out, end.disk);
    put16(out, end.disk);
    put16(out, count);
    put16(out, count);
    put32(out, static_cast<uint32_t>(directory.size()));
    put32(out, directory_offset);
    put16(out, static_cast<uint32_t>(end.comment.size()));
    out.insert(out.end(), end.comment.begin(), end.comment.end());
    return out;
}

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

// Reads the directory and inflates every file.
void read_all(const Bytes &archive) {
    const auto entries = bundle::read_zip_directory(archive.data(), archive.size(), "lab.rwb");
    for (const bundle::ZipEntry &entry : entries) bundle::inflate_zip_entry(archive.data(), archive.size(), entry, "lab.rwb");
}

struct HostileCase {
    const char *name;
    std::function<Bytes()> archive;
    const char *expected;
};

class HostileArchives : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileArchives, AreRefusedSayingWhy) {
    const Bytes archive = GetParam().archive();
    try {
        read_all(archive);
        FAIL() << "taken";
    } catch (const romwright::error &refusal) {
        EXPECT_EQ(refusal.kind(), romwright::error_kind::file);
        EXPECT_NE(std::string(refusal.what()).find(GetParam().expected), std::string::npos) << refusal.what();
    }
}

const Bytes kFirmware = [] {
    Bytes bytes(70000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}();

Entry with(Entry e, const std::function<void(Entry &)> &change) {
    change(e);
    return e;
}

INSTANTIATE_TEST_SUITE_P(
    Zip, HostileArchives,
    ::testing::Values(
        HostileCase{"TooShort", [] { return text("PK\x05\x06"); }, "too few for a ZIP archive"},
        HostileCase{"NotAZip", [] { return Bytes(1000, 0x41); }, "not a ZIP archive"},
        HostileCase{"BytesAfterTheEnd",
                    [] {
                        Bytes b = build({stored("fw-ZEN5160.pof", kFirmware)});
                        b.push_back(0);
                        return b;
                    },
                    "no end of central directory record"},
        HostileCase{"NoFiles", [] { return build({}); }, "holds no files"},
        HostileCase{"ParentFolder", [] { return build({stored("../fw-ZEN5160.pof", kFirmware)}); },
                    "has \"..\" in its path"},
        HostileCase{"ParentFolderInside", [] { return build({stored("a/../../fw-ZEN5160.pof", kFirmware)}); },
                    "has \"..\" in its path"},
        HostileCase{"ParentFolderWindows", [] { return build({stored("..\\fw-ZEN5160.pof", kFirmware)}); },
                    "has \"..\" in its path"},
        HostileCase{"AbsolutePath", [] { return build({stored("/etc/fw-ZEN5160.pof", kFirmware)}); },
                    "has an absolute path"},
        HostileCase{"DriveLetter", [] { return build({stored("C:fw-ZEN5160.pof", kFirmware)}); },
                    "has an absolute path"},
        HostileCase{"InAFolder", [] { return build({stored("lab/fw-ZEN5160.pof", kFirmware)}); },
                    "lies in a folder"},
        HostileCase{"ControlCharacter", [] { return build({stored("fw\n-ZEN5160.pof", kFirmware)}); },
                    "has a character other than"},
        HostileCase{"NoName", [] { return build({stored("", kFirmware)}); }, "has no name"},
        HostileCase{"DeviceName", [] { return build({stored("CON.ZEN5160.pof", kFirmware)}); },
                    "Windows keeps for a device"},
        HostileCase{"SameNameTwice",
                    [] { return build({stored("fw-ZEN5160.pof", kFirmware), stored("fw-ZEN5160.pof", kFirmware)}); },
                    "holds the file \"fw-ZEN5160.pof\" twice"},
        HostileCase{"SameNameButItsCase",
                    [] { return build({stored("fw-ZEN5160.pof", kFirmware), stored("FW-ZEN5160.POF", kFirmware)}); },
                    "twice"},
        HostileCase{"TooManyFiles",
                    [] {
                        std::vector<Entry> many;
                        for (int i = 0; i < 65; ++i) many.push_back(stored("f" + std::to_string(i) + ".pof", text("x")));
                        return build(many);
                    },
                    "holds 65 files; a bundle holds at most 64"},
        HostileCase{"Encrypted",
                    [] { return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.flags = 1; })}); },
                    "is encrypted"},
        HostileCase{"UnknownFlags",
                    [] { return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.flags = 0x10; })}); },
                    "has flags 0x0010"},
        HostileCase{"Bzip2",
                    [] { return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.method = 12; })}); },
                    "is compressed by method 12"},
        HostileCase{"Zip64Sizes",
                    [] {
                        return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.size = 0xFFFFFFFF; })});
                    },
                    "ZIP64"},
        HostileCase{"SeveralDisks",
                    [] {
                        End end;
                        end.disk = 1;
                        return build({stored("fw-ZEN5160.pof", kFirmware)}, end);
                    },
                    "spans several disks"},
        HostileCase{"DirectoryCountLies",
                    [] {
                        End end;
                        end.count = 2;
                        return build({stored("fw-ZEN5160.pof", kFirmware)}, end);
                    },
                    "central directory is damaged"},
        HostileCase{"EmptyFile", [] { return build({stored("fw-ZEN5160.pof", Bytes{})}); }, "is empty"},
        HostileCase{"StoredSizesDiffer",
                    [] {
                        return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.size += 1; })});
                    },
                    "is stored, but its directory gives it"},
        HostileCase{"CompressionBomb",
                    [] { return build({deflated("fw-ZEN5160.pof", Bytes(20u << 20, 0xFF))}); },
                    "refused as a compression bomb"},
        HostileCase{"InflatesToMoreThanDeclared",
                    [] {
                        return build({with(deflated("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.size = 1000; })});
                    },
                    "inflates to more than the 1000 bytes its directory gives it"},
        HostileCase{"InflatesToLessThanDeclared",
                    [] {
                        return build({with(deflated("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.size += 5; })});
                    },
                    "inflates to 70000 bytes, not the 70005"},
        HostileCase{"DamagedDeflate",
                    [] {
                        return build({with(deflated("fw-ZEN5160.pof", kFirmware), [](Entry &e) {
                            for (std::size_t i = 0; i < e.data.size(); i += 7) e.data[i] ^= 0x55;
                        })});
                    },
                    "\"fw-ZEN5160.pof\" in lab.rwb"},
        HostileCase{"WrongCrc",
                    [] { return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.crc ^= 1; })}); },
                    "is damaged: its CRC-32"},
        HostileCase{"LocalHeaderNamesAnotherFile",
                    [] {
                        return build({with(stored("fw-ZEN5160.pof", kFirmware),
                                           [](Entry &e) { e.local_name = "fw-ZEN5170.pof"; })});
                    },
                    "has the name \"fw-ZEN5170.pof\" in its local header"},
        HostileCase{"NoLocalHeader",
                    [] {
                        return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) { e.offset = 5; })});
                    },
                    "has no local header where the directory says"},
        HostileCase{"NoLocalHeaderAtAll",
                    [] {
                        return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) {
                            e.local = false;
                            e.offset = 0;
                        })});
                    },
                    "has no local header"},
        HostileCase{"DataRunsIntoTheDirectory",
                    [] {
                        return build({with(stored("fw-ZEN5160.pof", kFirmware), [](Entry &e) {
                            e.size += 100;
                            e.compressed += 100;
                        })});
                    },
                    "has data that runs into the central directory"},
        HostileCase{"OverlappingFiles",
                    [] {
                        // The second file's local header and data lie inside the first file's data.
                        const Entry inner = stored("b.pof", kFirmware);
                        Bytes blob = build({inner});
                        blob.resize(30 + 5 + kFirmware.size());  // its local header and data only
                        Entry outer = stored("a.pof", blob);
                        Entry shared = inner;
                        shared.local = false;
                        shared.offset = 30 + 5;  // a.pof's data
                        return build({outer, shared});
                    },
                    "share bytes"}),
    [](const ::testing::TestParamInfo<HostileCase> &info) { return std::string(info.param.name); });

TEST(ZipArchive, WhatTheWriterWritesReadsBack) {
    const Bytes mixed = kFirmware;
    const Bytes archive = bundle::zip_archive(
        {{"manifest.json", text("{}")}, {"fw-ZEN5160.pof", mixed}, {"fw-ZEN5110.rpd", Bytes(1000, 0x5A)}},
        "2026-12-09T10:11:12Z");
    const auto entries = bundle::read_zip_directory(archive.data(), archive.size(), "lab.rwb");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].name, "fw-ZEN5160.pof");
    EXPECT_EQ(bundle::inflate_zip_entry(archive.data(), archive.size(), entries[1], "lab.rwb"), mixed);
    EXPECT_EQ(entries[2].method, 8) << "a file that deflates smaller is deflated";
    EXPECT_EQ(entries[0].method, 0) << "a file that does not is stored";
    EXPECT_EQ(bundle::inflate_zip_entry(archive.data(), archive.size(), entries[2], "lab.rwb"), Bytes(1000, 0x5A));
}

TEST(ZipArchive, AFileThatInflatesFarBelowTheRatioFloorIsTaken) {
    // 1 MiB of erased flash deflates about a thousandfold: small files may.
    const Bytes archive = bundle::zip_archive({{"fw-ZEN5160.pof", Bytes(1u << 20, 0xFF)}}, "");
    EXPECT_NO_THROW(read_all(archive));
}

TEST(ZipArchive, NamesABundleMayHave) {
    EXPECT_EQ(bundle::name_problem("fw-ZEN5160_v2+debug.pof"), "");
    EXPECT_EQ(bundle::name_problem("manifest.json"), "");
    EXPECT_NE(bundle::name_problem("fw ZEN5160.pof"), "");
    EXPECT_NE(bundle::name_problem("fw-ZEN5160.pof."), "");
    EXPECT_NE(bundle::name_problem("nul.ZEN5160.pof"), "");
    EXPECT_NE(bundle::name_problem(std::string(201, 'a')), "");
    EXPECT_NE(bundle::name_problem("fw-\xc3\xa9.pof"), "");
}

} // namespace
