#include "core/identity/json_lines.h"

#include <openssl/evp.h>

#include <nlohmann/json.hpp>
#include <vector>

#include "core/identity/identity.h"

using nlohmann::json;

namespace {

const char* verdictName(const Verdict& v)
{
    bool bad = v.entry && v.entry->bad();
    switch (v.kind) {
    case VerdictKind::NoLists: return "no_lists";
    case VerdictKind::Known: return bad ? "known_bad" : "known";
    case VerdictKind::KnownOnceErased: return bad ? "known_bad_once_save_area_erased" : "known_once_save_area_erased";
    case VerdictKind::OtherSha1: return "near_other_sha1";
    case VerdictKind::CrcOtherSize: return "near_crc32_other_size";
    case VerdictKind::SameSerial: return "near_serial";
    case VerdictKind::SerialOtherSize: return "serial_at_other_size";
    case VerdictKind::NotInLists: return "not_in_lists";
    case VerdictKind::NotInListsRead: return "not_in_lists_read";
    }
    return "not_in_lists";
}

char hexDigit(unsigned v)
{
    return "0123456789abcdef"[v & 0xF];
}

json headerJson(const CartHeader& h)
{
    if (!h.licensed)
        return nullptr;
    std::string entry = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        entry += hexDigit(h.entryPoint >> shift);
    std::string title = h.title;
    while (!title.empty() && title.back() == '\0')
        title.pop_back();
    return {{"licence", h.licence},
            {"entry", entry},
            {"serial", h.serial},
            {"version", h.version},
            {"system", h.system == SYSTEM_COLOUR ? "colour" : h.system == SYSTEM_MONOCHROME ? "monochrome" : "unknown"},
            {"title", title}};
}

json entryJson(const ImageReport& r)
{
    const DumpEntry* e = r.verdict.entry;
    if (!e)
        return nullptr;
    auto orNull = [](const std::string& s) { return s.empty() ? json(nullptr) : json(s); };
    return {{"name", e->game}, {"rom_name", orNull(e->romName)}, {"status", orNull(e->status)},
            {"serial", orNull(e->serial)}, {"list", r.list}};
}

// The path's bytes when they are no UTF-8, which a JSON string cannot hold;
// null when `file` holds the path exactly.
json fileBytes(const std::string& file)
{
    try {
        (void)json(file).dump();
        return nullptr;
    } catch (const json::type_error&) {
        std::vector<unsigned char> out(4 * ((file.size() + 2) / 3) + 1);
        int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(file.data()), int(file.size()));
        return std::string(out.begin(), out.begin() + n);
    }
}

}  // namespace

std::string imageJson(const std::string& file, const char* outcome, const ImageReport* r)
{
    bool hashed = r && r->digestsOk;
    json j = {{"file", file}, {"file_base64", fileBytes(file)}, {"outcome", outcome}};
    j["size"] = hashed ? json(r->digests.size) : json(nullptr);
    std::string crc;
    for (int shift = 28; hashed && shift >= 0; shift -= 4)
        crc += hexDigit(r->digests.crc32 >> shift);
    j["crc32"] = hashed ? json(crc) : json(nullptr);
    j["md5"] = hashed ? json(toHex(r->digests.md5)) : json(nullptr);
    j["sha1"] = hashed ? json(toHex(r->digests.sha1)) : json(nullptr);
    j["sha256"] = hashed ? json(toHex(r->digests.sha256)) : json(nullptr);
    j["header"] = r ? headerJson(r->header) : json(nullptr);
    j["verdict"] = hashed ? json(verdictName(r->verdict)) : json(nullptr);
    // As the lines say them: the assumption only where the match rests on
    // it, the untried match only where it could have mattered.
    VerdictKind kind = hashed ? r->verdict.kind : VerdictKind::NoLists;
    j["save_area_assumed"] =
        kind == VerdictKind::KnownOnceErased && !r->area.assumed.empty() ? json(r->area.assumed) : json(nullptr);
    j["save_area_not_tried"] =
        r && r->area.scanFailed && kind != VerdictKind::Known && kind != VerdictKind::NoLists;
    j["entry"] = hashed ? entryJson(*r) : json(nullptr);
    // A dump's reading: how many passes, and where they differed.
    j["passes"] = r && r->read.passes ? json(r->read.passes) : json(nullptr);
    j["unstable"] = r && r->read.passes ? json(r->read.unstable) : json(nullptr);
    // Strings carry the text itself; bytes that are no UTF-8 (a title, a
    // path) must not end the line half-written, and a path keeps them in
    // file_base64.
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}
