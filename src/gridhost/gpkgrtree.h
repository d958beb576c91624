// The spatial index of a GeoPackage's point layer, written as its points are
// added rather than afterwards. SQLite's R-tree takes each point through a
// search from the root and splits nodes as they fill: about ten times the
// cost of writing the point itself. Points of a survey come in the order
// they were walked, so that consecutive points lie close together; packing
// them into full leaves in that order and the leaves into full nodes above
// gives a tree as tight as an inserted one, written once, node by node.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qgrad {

class PackedPointRtree {
public:
    // `db`: the GeoPackage's connection, inside the transaction the points
    // are written in. `table`'s spatial index on `geometryColumn` exists and
    // is empty, as GDAL creates it; its triggers are taken off until Finish,
    // so that the index is not also filled point by point. A failing step
    // calls `fail` with SQLite's reason; `fail` throws.
    using Failure = std::function<void(const std::string& reason)>;
    PackedPointRtree(sqlite3* db, const std::string& table, const std::string& geometryColumn, Failure fail);
    PackedPointRtree(const PackedPointRtree&) = delete;
    PackedPointRtree& operator=(const PackedPointRtree&) = delete;

    // The feature `fid` at (x, y); a point without a finite place is left out
    // of the index, as the GeoPackage's triggers leave out empty geometries.
    void Add(std::int64_t fid, double x, double y);
    // The nodes above the leaves and the triggers put back. The statements
    // are finished, so that the connection can close.
    void Finish();

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;
    struct Box {
        float minX, maxX, minY, maxY;
    };
    // A point in its leaf, or a node in the one above: its id and box.
    struct Cell {
        std::int64_t id;
        Box box;
    };

    [[noreturn]] void Fail(const std::string& what) const;
    void Execute(const std::string& sql);
    Statement Prepare(const std::string& sql);
    void Step(sqlite3_stmt* statement);
    // The node's box, around its cells.
    Box WriteNode(std::int64_t number, int depth, const std::vector<Cell>& cells);
    void WriteLeaf(std::int64_t number);

    sqlite3* db_;
    Failure fail_;
    std::string rtree_;
    std::vector<std::string> triggers_;  // as created, to be put back
    int nodeSize_ = 0, cellsPerNode_ = 0;
    Statement insertNode_, insertRowid_, insertParent_;
    // A full leaf is written once the next point comes: a run's only leaf
    // is the root, which has a number of its own.
    std::vector<Cell> leaf_;
    std::vector<Cell> leaves_;
    std::vector<unsigned char> blob_;
};

}  // namespace qgrad
