#include "hdf5importer.h"

#include "inputfile.h"

#include <hdf5.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

namespace vxraw {
namespace {

static_assert(sizeof(hid_t) == sizeof(int64_t), "hid_t is kept as int64_t");

std::mutex &hdf5Mutex()
{
    static std::mutex m;
    return m;
}

// libhdf5 prints its error stack to stderr by default; our messages say what
// failed instead. The setting is per thread in a thread-safe build, so it is made
// around every use.
class QuietHdf5 {
public:
    QuietHdf5()
    {
        H5Eget_auto2(H5E_DEFAULT, &func_, &data_);
        H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    }
    ~QuietHdf5() { H5Eset_auto2(H5E_DEFAULT, func_, data_); }
    QuietHdf5(const QuietHdf5 &) = delete;
    QuietHdf5 &operator=(const QuietHdf5 &) = delete;

private:
    H5E_auto2_t func_ = nullptr;
    void *data_ = nullptr;
};

// The innermost reason libhdf5 gives for the failure just seen, or empty.
std::string hdf5Reason()
{
    std::string reason;
    H5Ewalk2(
        H5E_DEFAULT, H5E_WALK_UPWARD,
        [](unsigned, const H5E_error2_t *e, void *out) -> herr_t {
            auto *s = static_cast<std::string *>(out);
            if (s->empty() && e && e->desc && *e->desc)
                *s = e->desc;
            return 0;
        },
        &reason);
    H5Eclear2(H5E_DEFAULT);
    return reason;
}

// Owns one HDF5 identifier.
class Id {
public:
    explicit Id(hid_t id = H5I_INVALID_HID, herr_t (*close)(hid_t) = nullptr) : id_(id), close_(close) {}
    ~Id() { reset(); }
    Id(Id &&o) noexcept : id_(o.id_), close_(o.close_) { o.id_ = H5I_INVALID_HID; }
    Id &operator=(Id &&o) noexcept
    {
        if (this != &o) {
            reset();
            id_ = o.id_;
            close_ = o.close_;
            o.id_ = H5I_INVALID_HID;
        }
        return *this;
    }
    Id(const Id &) = delete;
    Id &operator=(const Id &) = delete;
    void reset()
    {
        if (id_ >= 0 && close_)
            close_(id_);
        id_ = H5I_INVALID_HID;
    }
    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }

private:
    hid_t id_;
    herr_t (*close_)(hid_t);
};

bool linkExists(hid_t loc, const char *name)
{
    return H5Lexists(loc, name, H5P_DEFAULT) > 0;
}

// A dataset's element class, or H5T_NO_CLASS when it cannot be told.
H5T_class_t typeClass(hid_t dataset)
{
    Id type(H5Dget_type(dataset), H5Tclose);
    return type.valid() ? H5Tget_class(type.get()) : H5T_NO_CLASS;
}

// One value of a scalar or one-element dataset/attribute, as int64 or double.
struct Number {
    bool ok = false;
    bool isFloat = false;
    int64_t i = 0;
    double d = 0;
};

Number readNumber(hid_t obj, bool attribute)
{
    Number n;
    Id type(attribute ? H5Aget_type(obj) : H5Dget_type(obj), H5Tclose);
    Id space(attribute ? H5Aget_space(obj) : H5Dget_space(obj), H5Sclose);
    if (!type.valid() || !space.valid() || H5Sget_simple_extent_npoints(space.get()) != 1)
        return n;
    const H5T_class_t cls = H5Tget_class(type.get());
    if (cls != H5T_INTEGER && cls != H5T_FLOAT)
        return n;
    n.isFloat = cls == H5T_FLOAT;
    const hid_t mem = n.isFloat ? H5T_NATIVE_DOUBLE : H5T_NATIVE_INT64;
    void *dst = n.isFloat ? static_cast<void *>(&n.d) : static_cast<void *>(&n.i);
    n.ok = (attribute ? H5Aread(obj, mem, dst) : H5Dread(obj, mem, H5S_ALL, H5S_ALL, H5P_DEFAULT, dst)) >= 0;
    return n;
}

Number attributeNumber(hid_t loc, const char *name)
{
    if (H5Aexists(loc, name) <= 0)
        return {};
    Id attr(H5Aopen(loc, name, H5P_DEFAULT), H5Aclose);
    return attr.valid() ? readNumber(attr.get(), true) : Number{};
}

bool sensorDimension(const Number &n, uint16_t &out)
{
    const double v = n.isFloat ? n.d : static_cast<double>(n.i);
    if (!n.ok || !(v >= 1 && v <= 65535) || v != std::floor(v))
        return false;
    out = static_cast<uint16_t>(v);
    return true;
}

const char *const kSizeAttributes[][2] = {{"width", "height"},
                                          {"sensor_width", "sensor_height"},
                                          {"size_x", "size_y"},
                                          {"sizeX", "sizeY"},
                                          {"image_width", "image_height"}};

enum Role { RoleX, RoleY, RoleT, RoleP, RoleCount };
const char *const kRoleNames[RoleCount][2] = {{"x", "xs"}, {"y", "ys"}, {"t", "ts"}, {"p", "ps"}};

} // namespace

struct Hdf5Importer::Handles {
    Id file{H5I_INVALID_HID, H5Fclose};
    Id group{H5I_INVALID_HID, H5Gclose};
    Id datasets[RoleCount] = {Id(H5I_INVALID_HID, H5Dclose), Id(H5I_INVALID_HID, H5Dclose),
                              Id(H5I_INVALID_HID, H5Dclose), Id(H5I_INVALID_HID, H5Dclose)};
    std::string names[RoleCount];
    hid_t memTypes[RoleCount] = {};
    Id enumType{H5I_INVALID_HID, H5Tclose}; // memory type of a boolean (enum) polarity
};

Hdf5Importer::Hdf5Importer(std::string path) : path_(std::move(path)), h_(new Handles) {}

Hdf5Importer::~Hdf5Importer()
{
    std::lock_guard<std::mutex> lock(hdf5Mutex());
    QuietHdf5 quiet;
    closeLocked();
}

void Hdf5Importer::closeLocked()
{
    delete h_;
    h_ = nullptr;
}

bool Hdf5Importer::looksLikeHdf5(const char *head, size_t size)
{
    return size >= 8 && std::memcmp(head, "\x89HDF\r\n\x1a\n", 8) == 0;
}

double Hdf5Importer::progress() const
{
    return count_ ? static_cast<double>(sliceStart_ + sliceUsed_) / static_cast<double>(count_) : 1.0;
}

bool Hdf5Importer::open()
{
    // libhdf5 opens the path itself: check first that it cannot block (a FIFO).
    std::string why;
    if (!InputFile::isReadableRegularFile(path_, why))
        return fail(why);
    std::lock_guard<std::mutex> lock(hdf5Mutex());
    QuietHdf5 quiet;
    return openLocked();
}

bool Hdf5Importer::openLocked()
{
    if (H5Fis_hdf5(path_.c_str()) <= 0) {
        H5Eclear2(H5E_DEFAULT);
        return fail("not an HDF5 file");
    }
    recognised_ = true;
    h_->file = Id(H5Fopen(path_.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT), H5Fclose);
    if (!h_->file.valid()) {
        const std::string reason = hdf5Reason();
        return fail("cannot be opened by libhdf5" + (reason.empty() ? std::string() : ": " + reason));
    }

    // Candidate groups: the root, then the groups directly below it in name order.
    std::vector<std::string> candidates{"/"};
    {
        Id root(H5Gopen2(h_->file.get(), "/", H5P_DEFAULT), H5Gclose);
        H5G_info_t info{};
        if (root.valid() && H5Gget_info(root.get(), &info) >= 0) {
            const hsize_t links = std::min<hsize_t>(info.nlinks, 4096);
            for (hsize_t i = 0; i < links; ++i) {
                char name[256] = {};
                const ssize_t len = H5Lget_name_by_idx(root.get(), ".", H5_INDEX_NAME, H5_ITER_INC, i, name,
                                                       sizeof name, H5P_DEFAULT);
                if (len > 0 && static_cast<size_t>(len) < sizeof name)
                    candidates.push_back("/" + std::string(name));
            }
        }
        H5Eclear2(H5E_DEFAULT);
    }
    for (const std::string &candidate : candidates) {
        if (candidate != "/" && !linkExists(h_->file.get(), candidate.c_str() + 1))
            continue;
        Id group(H5Gopen2(h_->file.get(), candidate.c_str(), H5P_DEFAULT), H5Gclose);
        if (!group.valid())
            continue;
        std::string names[RoleCount];
        bool all = true;
        for (int r = 0; r < RoleCount && all; ++r) {
            for (const char *name : kRoleNames[r])
                if (names[r].empty() && linkExists(group.get(), name))
                    names[r] = name;
            all = !names[r].empty();
        }
        if (!all)
            continue;
        group_ = candidate;
        h_->group = std::move(group);
        for (int r = 0; r < RoleCount; ++r)
            h_->names[r] = names[r];
        break;
    }
    H5Eclear2(H5E_DEFAULT);
    if (group_.empty())
        return fail("no group holds the datasets x/xs, y/ys, t/ts and p/ps");
    const auto where = [&](int role) {
        return "dataset '" + (group_ == "/" ? std::string("/") : group_ + "/") + h_->names[role] + "'";
    };

    // Each dataset: one dimension, a readable type, the same length as the others,
    // and only filters this libhdf5 can decode.
    for (int r = 0; r < RoleCount; ++r) {
        Id &ds = h_->datasets[r];
        ds = Id(H5Dopen2(h_->group.get(), h_->names[r].c_str(), H5P_DEFAULT), H5Dclose);
        if (!ds.valid())
            return fail(where(r) + ": not a dataset");
        Id space(H5Dget_space(ds.get()), H5Sclose);
        hsize_t dims[2] = {};
        if (!space.valid() || H5Sget_simple_extent_ndims(space.get()) != 1
            || H5Sget_simple_extent_dims(space.get(), dims, nullptr) != 1)
            return fail(where(r) + ": not one-dimensional");
        if (r == 0)
            count_ = dims[0];
        else if (dims[0] != count_)
            return fail(where(r) + ": holds " + std::to_string(dims[0]) + " values, " + where(0) + " holds "
                        + std::to_string(count_));

        const H5T_class_t cls = typeClass(ds.get());
        if (r == RoleT) {
            if (cls != H5T_INTEGER && cls != H5T_FLOAT)
                return fail(where(r) + ": times must be integers (µs) or floating-point (seconds)");
            timeInSeconds_ = cls == H5T_FLOAT;
            h_->memTypes[r] = timeInSeconds_ ? H5T_NATIVE_DOUBLE : H5T_NATIVE_INT64;
        } else if (r == RoleP && cls == H5T_ENUM) {
            // Booleans as some writers store them: an enum over a one-byte integer.
            Id type(H5Dget_type(ds.get()), H5Tclose);
            h_->enumType = Id(type.valid() ? H5Tget_native_type(type.get(), H5T_DIR_ASCEND) : H5I_INVALID_HID,
                              H5Tclose);
            if (!h_->enumType.valid() || H5Tget_size(h_->enumType.get()) != 1)
                return fail(where(r) + ": an enumeration wider than one byte is not a polarity");
            h_->memTypes[r] = h_->enumType.get();
        } else if (cls != H5T_INTEGER) {
            return fail(where(r) + (r == RoleP ? ": polarities must be integers or booleans"
                                               : ": coordinates must be integers (undistorted or rectified "
                                                 "coordinates cannot be imported)"));
        } else {
            h_->memTypes[r] = r == RoleP ? H5T_NATIVE_INT8 : H5T_NATIVE_INT32;
        }

        Id dcpl(H5Dget_create_plist(ds.get()), H5Pclose);
        const int filters = dcpl.valid() ? H5Pget_nfilters(dcpl.get()) : 0;
        for (int f = 0; f < filters; ++f) {
            unsigned flags = 0;
            unsigned config = 0;
            size_t values = 0;
            char name[128] = {};
            const H5Z_filter_t id =
                H5Pget_filter2(dcpl.get(), static_cast<unsigned>(f), &flags, &values, nullptr, sizeof name, name, &config);
            if (id < 0 || H5Zfilter_avail(id) <= 0) {
                H5Eclear2(H5E_DEFAULT);
                return fail(where(r) + ": compressed with HDF5 filter " + std::to_string(id)
                            + (*name ? " (" + std::string(name) + ")" : std::string())
                            + ", which this libhdf5 cannot decode");
            }
        }
    }

    // Time offset and sensor size: the group's own first, then the root's.
    Id root(H5Gopen2(h_->file.get(), "/", H5P_DEFAULT), H5Gclose);
    const hid_t places[2] = {h_->group.get(), root.get()};
    bool haveOffset = false;
    for (hid_t loc : places) {
        if (haveOffset || loc < 0)
            continue;
        Number n;
        if (linkExists(loc, "t_offset")) {
            Id ds(H5Dopen2(loc, "t_offset", H5P_DEFAULT), H5Dclose);
            if (ds.valid())
                n = readNumber(ds.get(), false);
            if (!n.ok)
                return fail("'t_offset' is not a single number");
        } else {
            n = attributeNumber(loc, "t_offset");
        }
        if (!n.ok)
            continue;
        haveOffset = true;
        if (n.isFloat) {
            if (!std::isfinite(n.d) || std::fabs(n.d) > 9e12)
                return fail("'t_offset' of " + std::to_string(n.d) + " s is not a usable time");
            timeOffsetUs_ = std::llround(n.d * 1e6);
        } else {
            timeOffsetUs_ = n.i;
        }
    }
    for (hid_t loc : places) {
        if (fileWidth_ || loc < 0)
            break;
        for (const auto &pair : kSizeAttributes) {
            uint16_t w = 0;
            uint16_t hgt = 0;
            if (sensorDimension(attributeNumber(loc, pair[0]), w)
                && sensorDimension(attributeNumber(loc, pair[1]), hgt)) {
                fileWidth_ = w;
                fileHeight_ = hgt;
                break;
            }
        }
    }
    H5Eclear2(H5E_DEFAULT);
    if (fileWidth_) {
        width_ = fileWidth_;
        height_ = fileHeight_;
    }
    return true;
}

bool Hdf5Importer::readSlice()
{
    const uint64_t start = sliceStart_ + sliceSize_;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count_ - start, kReadEvents));
    x_.resize(n);
    y_.resize(n);
    p_.resize(n);
    if (timeInSeconds_)
        tSeconds_.resize(n);
    else
        tUs_.resize(n);
    void *buffers[RoleCount] = {x_.data(), y_.data(), timeInSeconds_ ? static_cast<void *>(tSeconds_.data())
                                                                      : static_cast<void *>(tUs_.data()),
                                p_.data()};
    const hsize_t offset = start;
    const hsize_t size = n;
    Id mem(H5Screate_simple(1, &size, nullptr), H5Sclose);
    for (int r = 0; r < RoleCount; ++r) {
        Id space(H5Dget_space(h_->datasets[r].get()), H5Sclose);
        if (!mem.valid() || !space.valid()
            || H5Sselect_hyperslab(space.get(), H5S_SELECT_SET, &offset, nullptr, &size, nullptr) < 0
            || H5Dread(h_->datasets[r].get(), h_->memTypes[r], mem.get(), space.get(), H5P_DEFAULT, buffers[r]) < 0) {
            const std::string reason = hdf5Reason();
            return fail("dataset '" + h_->names[r] + "', events " + std::to_string(start) + " to "
                        + std::to_string(start + n - 1) + ": read error"
                        + (reason.empty() ? std::string() : " (" + reason + ")"));
        }
    }
    sliceStart_ = start;
    sliceSize_ = n;
    sliceUsed_ = 0;
    return true;
}

bool Hdf5Importer::next(std::vector<vexadin::Event2D> &out, size_t maxEvents)
{
    out.clear();
    if (!error_.empty() || !h_ || !h_->file.valid())
        return false;
    maxEvents = std::max<size_t>(maxEvents, 1);
    while (out.empty()) {
        if (sliceUsed_ == sliceSize_) {
            if (sliceStart_ + sliceSize_ >= count_)
                return false;
            std::lock_guard<std::mutex> lock(hdf5Mutex());
            QuietHdf5 quiet;
            if (!readSlice())
                return false;
        }
        const size_t n = std::min(maxEvents, sliceSize_ - sliceUsed_);
        Columns c;
        c.x = x_.data() + sliceUsed_;
        c.y = y_.data() + sliceUsed_;
        c.p = p_.data() + sliceUsed_;
        if (timeInSeconds_)
            c.tSeconds = tSeconds_.data() + sliceUsed_;
        else
            c.tUs = tUs_.data() + sliceUsed_;
        c.count = n;
        const uint64_t first = sliceStart_ + sliceUsed_;
        sliceUsed_ += n;
        if (!appendColumns(c, first, out))
            return false;
    }
    return true;
}

bool Hdf5Importer::appendColumns(const Columns &c, uint64_t firstIndex, std::vector<vexadin::Event2D> &out)
{
    out.reserve(out.size() + c.count);
    // Seconds beyond this many µs do not fit the signed arithmetic below (~292,000 years).
    constexpr double kMaxSeconds = 9.2e12;
    for (size_t i = 0; i < c.count; ++i) {
        int64_t t = 0;
        if (c.tSeconds) {
            const double s = c.tSeconds[i];
            if (!std::isfinite(s) || std::fabs(s) > kMaxSeconds)
                return fail("event " + std::to_string(firstIndex + i) + ": time " + std::to_string(s)
                            + " s is not a usable time");
            t = std::llround(s * 1e6);
        } else {
            t = c.tUs[i];
        }
        int64_t sum = 0;
        if (__builtin_add_overflow(t, timeOffsetUs_, &sum) || sum < 0)
            return fail("event " + std::to_string(firstIndex + i) + ": time " + std::to_string(t) + " us"
                        + (timeOffsetUs_ ? " + t_offset " + std::to_string(timeOffsetUs_) + " us" : std::string())
                        + " is negative or too large");
        const uint64_t ts = static_cast<uint64_t>(sum);
        if (ts < lastTimestamp_)
            return fail(backInTimeError("event " + std::to_string(firstIndex + i), ts));
        lastTimestamp_ = ts;
        const int32_t x = c.x[i];
        const int32_t y = c.y[i];
        if (x < 0 || y < 0 || x >= width_ || y >= height_) {
            ++outsideSensor_;
            continue;
        }
        out.emplace_back(static_cast<uint16_t>(x), static_cast<uint16_t>(y), static_cast<uint8_t>(c.p[i] > 0 ? 1 : 0),
                         ts);
    }
    return true;
}

} // namespace vxraw
