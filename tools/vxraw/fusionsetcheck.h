#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// A fusion recording is a set of three files with one base name: base.raw (events),
// base.mp4 (colour frames) and base.json (calibration, optional).
//
// Checks the .mp4 and .json neighbours of rawPath when they exist: the video opens,
// every frame decodes and the frame time stamps increase; the JSON parses as a
// calibration. Writes one line per neighbour checked to `out` and one line per
// problem to `problems`. apsTimeOffset (from the .raw) turns frame times into event
// times for the report. Returns false when a neighbour has a problem.
bool checkFusionNeighbours(const std::string &rawPath, int64_t apsTimeOffset, std::ostream &out,
                           std::vector<std::string> &problems);
