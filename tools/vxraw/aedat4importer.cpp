#include "aedat4importer.h"

#include "flatbufferview.h"

#include <lz4frame.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

namespace vxraw {
namespace {

constexpr char kVersionLine[] = "#!AER-DAT4.0";
constexpr size_t kVersionLineSize = 14; // including "\r\n"
constexpr uint32_t kMaxHeaderBytes = 64u << 20;
constexpr size_t kEventStructSize = 16;

int32_t le32(const uint8_t *p)
{
    const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8)
                       | (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    int32_t v = 0;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

std::string decodeEntities(const std::string &s)
{
    static const std::pair<const char *, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        bool replaced = false;
        if (s[i] == '&') {
            for (const auto &e : kEntities) {
                const size_t n = std::strlen(e.first);
                if (s.compare(i, n, e.first) == 0) {
                    out += e.second;
                    i += n;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += s[i++];
    }
    return out;
}

// Value of attribute `name` inside one XML tag's text, empty when missing.
std::string tagAttribute(const std::string &tag, const char *name)
{
    const std::string key = std::string(name) + "=\"";
    size_t at = 0;
    while ((at = tag.find(key, at)) != std::string::npos) {
        if (at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n' || tag[at - 1] == '\r'))
            break;
        at += key.size();
    }
    if (at == std::string::npos)
        return {};
    const size_t start = at + key.size();
    const size_t end = tag.find('"', start);
    if (end == std::string::npos)
        return {};
    return decodeEntities(tag.substr(start, end - start));
}

bool isStreamId(const std::string &s, long &id)
{
    if (s.empty() || s.size() > 9)
        return false;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    id = v;
    return true;
}

bool parseSize(const std::string &s, uint16_t &v)
{
    long id = 0;
    if (!isStreamId(s, id) || id < 1 || id > 65535)
        return false;
    v = static_cast<uint16_t>(id);
    return true;
}

} // namespace

Aedat4Importer::Aedat4Importer(std::string path) : path_(std::move(path)), codecs_(std::make_unique<Codecs>()) {}

Aedat4Importer::~Aedat4Importer() = default;

double Aedat4Importer::progress() const
{
    return packetsEnd_ ? static_cast<double>(position_) / static_cast<double>(packetsEnd_) : 1.0;
}

bool Aedat4Importer::readAt(uint64_t offset, void *dst, size_t n, const std::string &where)
{
    const InputFile::Read r = file_.readAt(offset, dst, n);
    if (r == InputFile::Read::Ok)
        return true;
    return r == InputFile::Read::Error ? failRead(where + ": " + file_.error()) : fail(where + ": " + file_.error());
}

bool Aedat4Importer::looksLikeAedat(const char *head, size_t size)
{
    // "#!AER-DAT" with any version: other versions are recognised so they can be refused by name.
    return size >= 9 && std::memcmp(head, kVersionLine, 9) == 0;
}

std::string Aedat4Importer::fileProduct() const
{
    // The source names the camera as "<model>_<serial>".
    const size_t sep = source_.find('_');
    return sep == std::string::npos ? std::string() : source_.substr(0, sep);
}

bool Aedat4Importer::open()
{
    if (!file_.open(path_))
        return fail(file_.error());
    fileSize_ = file_.size();

    char line[kVersionLineSize] = {};
    const size_t got = fileSize_ < kVersionLineSize ? static_cast<size_t>(fileSize_) : kVersionLineSize;
    if (file_.readAt(0, line, got) == InputFile::Read::Error)
        return failRead(file_.error());
    if (!looksLikeAedat(line, got))
        return fail("not an AEDAT file");
    recognised_ = true;
    if (got < kVersionLineSize || std::memcmp(line, kVersionLine, 12) != 0
        || std::memcmp(line + 12, "\r\n", 2) != 0) {
        std::string version(line, got);
        const size_t eol = version.find_first_of("\r\n");
        if (eol != std::string::npos)
            version.resize(eol);
        return fail("unsupported AEDAT version '" + version + "' (AEDAT 2.0, 3.1 and 4.0 can be imported)");
    }

    uint8_t sizeBytes[4];
    if (!readAt(kVersionLineSize, sizeBytes, 4, "header size"))
        return false;
    const int32_t headerSize = le32(sizeBytes);
    const uint64_t headerStart = kVersionLineSize + 4;
    if (headerSize < 8 || static_cast<uint32_t>(headerSize) > kMaxHeaderBytes
        || headerStart + static_cast<uint64_t>(headerSize) > fileSize_)
        return fail("header: size " + std::to_string(headerSize) + " does not fit the file of "
                    + std::to_string(fileSize_) + " bytes");
    std::vector<uint8_t> header(static_cast<size_t>(headerSize));
    if (!readAt(headerStart, header.data(), header.size(), "header"))
        return false;

    FlatBufferView fb(header.data(), header.size());
    size_t table = 0;
    size_t pos = 0;
    bool present = false;
    if (!fb.rootTable(table))
        return fail("header: damaged FlatBuffer (root table)");
    if (!fb.field(table, 0, 4, pos, present))
        return fail("header: damaged FlatBuffer (compression field)");
    if (present)
        fb.readI32(pos, compression_);
    int64_t dataTable = -1;
    if (!fb.field(table, 1, 8, pos, present))
        return fail("header: damaged FlatBuffer (data table field)");
    if (present)
        fb.readI64(pos, dataTable);
    std::string xml;
    if (!fb.field(table, 2, 4, pos, present) || !present || !fb.string(pos, xml))
        return fail("header: damaged FlatBuffer (stream description)");

    const uint64_t headerEnd = headerStart + static_cast<uint64_t>(headerSize);
    // A file whose recording was not closed has no table (-1); its packets then run
    // to the end. Any other position must lie inside the file: taking a wrong one for
    // the end would silently drop the events after it.
    if (dataTable < 0) {
        packetsEnd_ = fileSize_;
    } else if (static_cast<uint64_t>(dataTable) >= fileSize_) {
        return fail("header: data table position " + std::to_string(dataTable) + " lies beyond the end of the file ("
                    + std::to_string(fileSize_) + " bytes): truncated file or damaged header");
    } else if (static_cast<uint64_t>(dataTable) < headerEnd) {
        return fail("header: data table position " + std::to_string(dataTable) + " lies inside the header");
    } else {
        packetsEnd_ = static_cast<uint64_t>(dataTable);
        hasDataTable_ = true;
    }
    position_ = headerEnd;

    if (!parseStreamXml(xml))
        return false;
    if (fileWidth_ && fileHeight_) {
        width_ = fileWidth_;
        height_ = fileHeight_;
    }
    return true;
}

bool Aedat4Importer::parseStreamXml(const std::string &xml)
{
    // The stream description is a tree of <node name=".."> elements holding
    // <attr key=".." type="..">value</attr>; each output stream is a node named
    // by its numeric id, with its sensor facts in a child node "info".
    std::vector<std::string> stack;
    std::map<long, std::map<std::string, std::string>> streams;
    size_t i = 0;
    while ((i = xml.find('<', i)) != std::string::npos) {
        if (xml.compare(i, 4, "<!--") == 0) {
            const size_t end = xml.find("-->", i);
            if (end == std::string::npos)
                break;
            i = end + 3;
            continue;
        }
        const size_t close = xml.find('>', i);
        if (close == std::string::npos)
            return fail("header: damaged stream description (unterminated tag)");
        const std::string tag = xml.substr(i, close - i + 1);
        i = close + 1;
        if (tag.size() < 3 || tag[1] == '?' || tag[1] == '!')
            continue;
        if (tag[1] == '/') {
            if (!stack.empty())
                stack.pop_back();
            continue;
        }
        const bool selfClosing = tag[tag.size() - 2] == '/';
        if (tag.compare(0, 5, "<attr") == 0 && !selfClosing) {
            const size_t end = xml.find("</attr>", i);
            if (end == std::string::npos)
                return fail("header: damaged stream description (unterminated attr)");
            const std::string value = decodeEntities(xml.substr(i, end - i));
            i = end + 7;
            long id = 0;
            bool inStream = false;
            if (!stack.empty() && isStreamId(stack.back(), id))
                inStream = true;
            else if (stack.size() >= 2 && stack.back() == "info" && isStreamId(stack[stack.size() - 2], id))
                inStream = true;
            if (inStream)
                streams[id][tagAttribute(tag, "key")] = value;
            continue;
        }
        if (!selfClosing)
            stack.push_back(tagAttribute(tag, "name"));
    }

    for (const auto &stream : streams) {
        const auto &attrs = stream.second;
        const auto type = attrs.find("typeIdentifier");
        if (type == attrs.end() || type->second != "EVTS")
            continue;
        eventStream_ = stream.first;
        const auto sx = attrs.find("sizeX");
        const auto sy = attrs.find("sizeY");
        if (sx != attrs.end() && sy != attrs.end()) {
            if (!parseSize(sx->second, fileWidth_) || !parseSize(sy->second, fileHeight_))
                return fail("header: bad sensor size '" + sx->second + " x " + sy->second + "'");
        }
        const auto source = attrs.find("source");
        if (source != attrs.end())
            source_ = source->second;
        return true;
    }
    return fail("header: the file has no polarity event stream (EVTS)");
}

// Decoder contexts live as long as the importer: making one per packet was a
// measurable share of the import time.
struct Aedat4Importer::Codecs {
    std::unique_ptr<LZ4F_dctx, decltype(&LZ4F_freeDecompressionContext)> lz4{nullptr, LZ4F_freeDecompressionContext};
    std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> zstd{nullptr, ZSTD_freeDCtx};
};

bool Aedat4Importer::decompress(const std::vector<uint8_t> &in, std::vector<uint8_t> &out, size_t &outSize,
                                const std::string &where, size_t prefix)
{
    static const uint8_t kLz4Magic[4] = {0x04, 0x22, 0x4D, 0x18};
    static const uint8_t kZstdMagic[4] = {0x28, 0xB5, 0x2F, 0xFD};
    const bool lz4 = in.size() >= 4 && std::memcmp(in.data(), kLz4Magic, 4) == 0;
    const bool zstd = in.size() >= 4 && std::memcmp(in.data(), kZstdMagic, 4) == 0;
    if (!lz4 && !zstd) {
        if (compression_ != 0)
            return fail(where + ": neither an LZ4 nor a Zstandard frame");
        outSize = std::min(prefix, in.size());
        if (out.size() < outSize)
            out.resize(outSize);
        // An empty packet leaves both buffers without storage: memcpy must not see null.
        if (outSize > 0)
            std::memcpy(out.data(), in.data(), outSize);
        return true;
    }

    // With a prefix wanted, the input may be only the start of the frame.
    const bool whole = prefix == SIZE_MAX;
    const size_t limit = whole ? kMaxPacketBytes : prefix;
    // The buffer only grows: shrinking and growing it again would zero-fill it per packet.
    if (out.size() < std::min(in.size() * 4 + 4096, limit))
        out.resize(std::min(in.size() * 4 + 4096, limit));
    size_t inPos = 0;
    size_t outPos = 0;
    auto grow = [&]() {
        if (outPos >= limit)
            return false;
        out.resize(std::max(out.size(), std::min(out.size() * 2, limit)));
        return true;
    };
    // Room left for output, never past the limit.
    auto room = [&]() { return std::min(out.size(), limit) - outPos; };
    auto tooLarge = [&]() {
        return fail(where + ": decompresses to more than " + std::to_string(kMaxPacketBytes >> 20) + " MiB");
    };

    if (lz4) {
        if (!codecs_->lz4) {
            LZ4F_dctx *raw = nullptr;
            if (LZ4F_isError(LZ4F_createDecompressionContext(&raw, LZ4F_VERSION)))
                return fail(where + ": out of memory");
            codecs_->lz4.reset(raw);
        }
        LZ4F_dctx *ctx = codecs_->lz4.get();
        LZ4F_resetDecompressionContext(ctx);
        size_t hint = 1;
        while (inPos < in.size()) {
            if (room() == 0 && !grow()) {
                if (!whole)
                    break;
                return tooLarge();
            }
            size_t dstSize = room();
            size_t srcSize = in.size() - inPos;
            hint = LZ4F_decompress(ctx, out.data() + outPos, &dstSize, in.data() + inPos, &srcSize, nullptr);
            if (LZ4F_isError(hint))
                return fail(where + ": damaged LZ4 data (" + LZ4F_getErrorName(hint) + ")");
            if (srcSize == 0 && dstSize == 0)
                return fail(where + ": damaged LZ4 data");
            inPos += srcSize;
            outPos += dstSize;
        }
        // Frame not finished: the decoder may still hold output, or the input is cut short.
        while (whole && hint != 0) {
            if (room() == 0 && !grow())
                return tooLarge();
            size_t dstSize = room();
            size_t srcSize = 0;
            hint = LZ4F_decompress(ctx, out.data() + outPos, &dstSize, nullptr, &srcSize, nullptr);
            if (LZ4F_isError(hint))
                return fail(where + ": damaged LZ4 data (" + LZ4F_getErrorName(hint) + ")");
            if (dstSize == 0 && hint != 0)
                return fail(where + ": truncated LZ4 frame");
            outPos += dstSize;
        }
    } else {
        if (!codecs_->zstd) {
            codecs_->zstd.reset(ZSTD_createDCtx());
            if (!codecs_->zstd)
                return fail(where + ": out of memory");
        }
        ZSTD_DCtx *ctx = codecs_->zstd.get();
        ZSTD_DCtx_reset(ctx, ZSTD_reset_session_only);
        size_t hint = 1;
        for (;;) {
            if (room() == 0 && !grow()) {
                if (!whole)
                    break;
                return tooLarge();
            }
            ZSTD_inBuffer src{in.data(), in.size(), inPos};
            ZSTD_outBuffer dst{out.data(), outPos + room(), outPos};
            hint = ZSTD_decompressStream(ctx, &dst, &src);
            if (ZSTD_isError(hint))
                return fail(where + ": damaged Zstandard data (" + ZSTD_getErrorName(hint) + ")");
            const bool progressed = src.pos != inPos || dst.pos != outPos;
            inPos = src.pos;
            outPos = dst.pos;
            if (inPos == in.size() && (hint == 0 || dst.pos < dst.size))
                break;
            if (!progressed && dst.pos < dst.size)
                return fail(where + ": damaged Zstandard data");
        }
        if (whole && hint != 0)
            return fail(where + ": truncated Zstandard frame");
    }
    outSize = outPos;
    return true;
}

bool Aedat4Importer::dataTableFollows()
{
    // Enough of the frame for its first block; only the table's first bytes are needed.
    constexpr uint64_t kProbeBytes = (4u << 20) + 64;
    const std::string where = "data table at byte " + std::to_string(packetsEnd_);
    compressed_.resize(static_cast<size_t>(std::min<uint64_t>(fileSize_ - packetsEnd_, kProbeBytes)));
    if (!readAt(packetsEnd_, compressed_.data(), compressed_.size(), where))
        return false;
    // Size-prefixed FlatBuffer: uint32 length, uint32 root offset, identifier.
    std::vector<uint8_t> head;
    std::string why;
    {
        const std::string kept = error_;
        size_t headSize = 0;
        const bool decoded = decompress(compressed_, head, headSize, where, 12);
        head.resize(decoded ? headSize : 0);
        if (!decoded) {
            why = error_;
            error_ = kept;
        }
    }
    if (!why.empty() || head.size() < 12 || std::memcmp(head.data() + 8, "FTAB", 4) != 0)
        return fail("header: data table position " + std::to_string(packetsEnd_)
                    + " does not lead to the data table (damaged header or file)");
    return true;
}

bool Aedat4Importer::decodeEventPacket(const uint8_t *bytes, size_t size, std::vector<vexadin::Event2D> &out,
                                       const std::string &where)
{
    // Size-prefixed FlatBuffer: uint32 length, then the buffer.
    if (size < 8)
        return fail(where + ": too short for a FlatBuffer");
    const uint32_t length = static_cast<uint32_t>(le32(bytes));
    if (length > size - 4)
        return fail(where + ": FlatBuffer size " + std::to_string(length) + " exceeds the packet");
    FlatBufferView fb(bytes + 4, length);
    if (!fb.hasIdentifier("EVTS"))
        return fail(where + ": not a polarity event packet (identifier is not EVTS)");
    size_t table = 0;
    size_t pos = 0;
    bool present = false;
    size_t first = 0;
    uint64_t count = 0;
    if (!fb.rootTable(table) || !fb.field(table, 0, 4, pos, present))
        return fail(where + ": damaged FlatBuffer (event table)");
    if (!present)
        return true; // an empty packet
    if (!fb.vector(pos, kEventStructSize, first, count))
        return fail(where + ": damaged FlatBuffer (event vector)");

    out.reserve(static_cast<size_t>(count));
    const uint8_t *p = fb.data() + first;
    for (uint64_t k = 0; k < count; ++k, p += kEventStructSize) {
        int64_t t = 0;
        int16_t x = 0;
        int16_t y = 0;
        std::memcpy(&t, p, 8);
        std::memcpy(&x, p + 8, 2);
        std::memcpy(&y, p + 10, 2);
        const uint8_t on = p[12];
        if (t < 0)
            return fail(where + ", event " + std::to_string(k) + ": negative timestamp " + std::to_string(t));
        if (x < 0 || y < 0 || x >= width_ || y >= height_)
            return fail(outsideSensorError(where + ", event " + std::to_string(k), x, y));
        if (static_cast<uint64_t>(t) < lastTimestamp_)
            return fail(backInTimeError(where + ", event " + std::to_string(k), static_cast<uint64_t>(t)));
        lastTimestamp_ = static_cast<uint64_t>(t);
        out.emplace_back(static_cast<uint16_t>(x), static_cast<uint16_t>(y), static_cast<uint8_t>(on ? 1 : 0),
                         static_cast<uint64_t>(t));
    }
    return true;
}

bool Aedat4Importer::next(std::vector<vexadin::Event2D> &out, size_t)
{
    out.clear();
    if (!error_.empty() || !file_.isOpen())
        return false;
    while (position_ < packetsEnd_ || (hasDataTable_ && !tableChecked_)) {
        if (position_ >= packetsEnd_) {
            tableChecked_ = true;
            if (!dataTableFollows())
                return false;
            break;
        }
        ++packetIndex_;
        const std::string where = "packet " + std::to_string(packetIndex_) + " at byte " + std::to_string(position_);
        uint8_t head[8];
        const auto packetsEnd = [&] {
            return hasDataTable_ ? "the data table at byte " + std::to_string(packetsEnd_)
                                 : std::string("the end of the file");
        };
        if (packetsEnd_ - position_ < 8)
            return fail(where + ": the packet header runs past " + packetsEnd());
        if (!readAt(position_, head, 8, where))
            return false;
        const int32_t stream = le32(head);
        const int32_t size = le32(head + 4);
        if (size < 0 || static_cast<uint64_t>(size) > packetsEnd_ - position_ - 8)
            return fail(where + ": size " + std::to_string(size) + " runs past " + packetsEnd());
        const uint64_t body = position_ + 8;
        position_ = body + static_cast<uint64_t>(size);
        if (stream != eventStream_)
            continue;
        compressed_.resize(static_cast<size_t>(size));
        if (!readAt(body, compressed_.data(), compressed_.size(), where))
            return false;
        size_t packetSize = 0;
        if (!decompress(compressed_, packet_, packetSize, where)
            || !decodeEventPacket(packet_.data(), packetSize, out, where))
            return false;
        if (!out.empty())
            return true;
    }
    return false;
}

} // namespace vxraw
