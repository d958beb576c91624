#include "gridhost/gpkgrtree.h"

#include "gridhost/gdallibrary.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qgrad {
namespace {

// SQLite's R-tree node: a 2-byte depth (read from the root only), a 2-byte
// cell count, then cells of a 64-bit id and the box as four 32-bit floats,
// every number big-endian.
constexpr int kNodeHeader = 4;
constexpr int kCellBytes = 8 + 4 * 4;

void PutBigEndian(unsigned char* at, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8) at[i] = static_cast<unsigned char>(v);
}

// The box is stored in floats, rounded outwards as SQLite's own insert
// rounds it, so that the index holds the boxes GDAL's would.
constexpr double kTowardsZero = 1.0 - 1.0 / 8388608.0, kAwayFromZero = 1.0 + 1.0 / 8388608.0;
float Below(double v) {
    const float f = static_cast<float>(v);
    return f > v ? static_cast<float>(v * (v < 0 ? kAwayFromZero : kTowardsZero)) : f;
}
float Above(double v) {
    const float f = static_cast<float>(v);
    return f < v ? static_cast<float>(v * (v < 0 ? kTowardsZero : kAwayFromZero)) : f;
}

std::string Quoted(const std::string& name) {
    std::string q = "\"";
    for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace

void PackedPointRtree::Finalizer::operator()(sqlite3_stmt* statement) const { Gdal().sqlite3_finalize(statement); }

PackedPointRtree::PackedPointRtree(sqlite3* db, const std::string& table, const std::string& geometryColumn, Failure fail)
    : db_(db), fail_(std::move(fail)), rtree_("rtree_" + table + "_" + geometryColumn) {
    // The names GeoPackage gives an R-tree's triggers.
    const Statement triggers = Prepare("SELECT name, sql FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 "
                                       "AND substr(name, 1, length(?2)) = ?2");
    Gdal().sqlite3_bind_text(triggers.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    Gdal().sqlite3_bind_text(triggers.get(), 2, (rtree_ + "_").c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> names;
    int rc = SQLITE_ROW;
    while ((rc = Gdal().sqlite3_step(triggers.get())) == SQLITE_ROW) {
        names.emplace_back(reinterpret_cast<const char*>(Gdal().sqlite3_column_text(triggers.get(), 0)));
        triggers_.emplace_back(reinterpret_cast<const char*>(Gdal().sqlite3_column_text(triggers.get(), 1)));
    }
    if (rc != SQLITE_DONE || names.empty()) Fail("cannot find the spatial index");
    for (const std::string& name : names) Execute("DROP TRIGGER " + Quoted(name));

    // The node size SQLite chose for the page size, as it reads it back.
    const Statement root = Prepare("SELECT length(data) FROM " + Quoted(rtree_ + "_node") + " WHERE nodeno = 1");
    if (Gdal().sqlite3_step(root.get()) == SQLITE_ROW) nodeSize_ = Gdal().sqlite3_column_int(root.get(), 0);
    cellsPerNode_ = (nodeSize_ - kNodeHeader) / kCellBytes;
    if (cellsPerNode_ < 2) Fail("the spatial index has no root");
    blob_.resize(static_cast<std::size_t>(nodeSize_));
    leaf_.reserve(static_cast<std::size_t>(cellsPerNode_));

    insertNode_ = Prepare("INSERT OR REPLACE INTO " + Quoted(rtree_ + "_node") + " (nodeno, data) VALUES (?1, ?2)");
    insertRowid_ = Prepare("INSERT INTO " + Quoted(rtree_ + "_rowid") + " (rowid, nodeno) VALUES (?1, ?2)");
    insertParent_ = Prepare("INSERT INTO " + Quoted(rtree_ + "_parent") + " (nodeno, parentnode) VALUES (?1, ?2)");
}

void PackedPointRtree::Fail(const std::string& what) const {
    fail_(what + ": " + Gdal().sqlite3_errmsg(db_));
    std::abort();  // `fail` throws
}

void PackedPointRtree::Execute(const std::string& sql) {
    if (Gdal().sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail("cannot write the spatial index");
}

PackedPointRtree::Statement PackedPointRtree::Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    const int rc = Gdal().sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr);
    Statement statement(s);
    if (rc != SQLITE_OK) Fail("cannot write the spatial index");
    return statement;
}

void PackedPointRtree::Step(sqlite3_stmt* statement) {
    const int rc = Gdal().sqlite3_step(statement);
    Gdal().sqlite3_reset(statement);
    if (rc != SQLITE_DONE) Fail("cannot write the spatial index");
}

void PackedPointRtree::Add(std::int64_t fid, double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    if (static_cast<int>(leaf_.size()) == cellsPerNode_) WriteLeaf(2 + static_cast<std::int64_t>(leaves_.size()));
    leaf_.push_back({fid, {Below(x), Above(x), Below(y), Above(y)}});
}

PackedPointRtree::Box PackedPointRtree::WriteNode(std::int64_t number, int depth, const std::vector<Cell>& cells) {
    std::fill(blob_.begin(), blob_.end(), 0);
    Box around = cells.front().box;
    // Other nodes leave the depth blank, as SQLite's do.
    if (number == 1) PutBigEndian(blob_.data(), static_cast<std::uint64_t>(depth), 2);
    PutBigEndian(blob_.data() + 2, cells.size(), 2);
    unsigned char* at = blob_.data() + kNodeHeader;
    for (const Cell& c : cells) {
        around = {std::min(around.minX, c.box.minX), std::max(around.maxX, c.box.maxX),
                  std::min(around.minY, c.box.minY), std::max(around.maxY, c.box.maxY)};
        PutBigEndian(at, static_cast<std::uint64_t>(c.id), 8);
        at += 8;
        for (float v : {c.box.minX, c.box.maxX, c.box.minY, c.box.maxY}) {
            PutBigEndian(at, std::bit_cast<std::uint32_t>(v), 4);
            at += 4;
        }
    }
    Gdal().sqlite3_bind_int64(insertNode_.get(), 1, number);
    Gdal().sqlite3_bind_blob(insertNode_.get(), 2, blob_.data(), nodeSize_, SQLITE_STATIC);
    Step(insertNode_.get());
    return around;
}

void PackedPointRtree::WriteLeaf(std::int64_t number) {
    leaves_.push_back({number, WriteNode(number, 0, leaf_)});
    for (const Cell& c : leaf_) {
        Gdal().sqlite3_bind_int64(insertRowid_.get(), 1, c.id);
        Gdal().sqlite3_bind_int64(insertRowid_.get(), 2, number);
        Step(insertRowid_.get());
    }
    leaf_.clear();
}

void PackedPointRtree::Finish() {
    if (!leaf_.empty()) WriteLeaf(leaves_.empty() ? 1 : 2 + static_cast<std::int64_t>(leaves_.size()));
    // Each level packs the one below in order, full nodes but the last, until
    // one node, the root, holds them all.
    std::vector<Cell> level = std::move(leaves_);
    std::int64_t next = 2 + static_cast<std::int64_t>(level.size());
    std::vector<Cell> cells;
    for (int depth = 1; level.size() > 1; ++depth) {
        std::vector<Cell> above;
        const bool root = level.size() <= static_cast<std::size_t>(cellsPerNode_);
        for (std::size_t first = 0; first < level.size(); first += static_cast<std::size_t>(cellsPerNode_)) {
            const std::size_t last = std::min(level.size(), first + static_cast<std::size_t>(cellsPerNode_));
            const std::int64_t number = root ? 1 : next++;
            cells.assign(level.begin() + static_cast<std::ptrdiff_t>(first), level.begin() + static_cast<std::ptrdiff_t>(last));
            for (const Cell& child : cells) {
                Gdal().sqlite3_bind_int64(insertParent_.get(), 1, child.id);
                Gdal().sqlite3_bind_int64(insertParent_.get(), 2, number);
                Step(insertParent_.get());
            }
            above.push_back({number, WriteNode(number, depth, cells)});
        }
        level = std::move(above);
    }
    for (Statement* s : {&insertNode_, &insertRowid_, &insertParent_}) s->reset();
    for (const std::string& sql : triggers_) Execute(sql);
}

}  // namespace qgrad
