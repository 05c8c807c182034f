// The link matrix: device behaviours × line conditions × transfers, each run
// as orvane-cli against orvane-sim over a pseudo-terminal, with the device's
// content compared byte for byte afterwards. Shared by the end-to-end test
// (one seed per cell), the link matrix benchmark and its soak mode.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane::e2e {

using Bytes = std::vector<std::uint8_t>;

// Reproducible bytes of a file to send (xorshift from the seed).
Bytes Pattern(std::size_t size, unsigned seed);

struct MatrixCell {
  std::string behaviour;   // --answer of the device
  std::string condition;   // clean, latency, faults, tight, jitter, apply
  // put (a plan file, 6 000 bytes unless size says otherwise), flash (an
  // 8 KiB image) or delete (the second of three files on the device)
  std::string transfer;
  std::vector<std::string> device_options;  // without --seed
  std::size_t size = 0;    // of the plan file of a put; 0: 6 000 bytes
  std::string Name() const { return behaviour + "/" + condition + "/" + transfer; }
};

// Every cell of the matrix; the tight window is left out for flush, which
// then never sees a frame in time. Besides the full grid: a console that
// flushes its input before irregular polls behind a slow adapter (jitter,
// an upload of 4 000 bytes), and consoles that apply every repeated frame
// while answers and frames get lost (apply: an upload and a delete).
std::vector<MatrixCell> LinkMatrix();

struct CellRun {
  int exit_status = -1;  // -1: killed by a signal or the time limit
  bool timed_out = false;
  bool content_exact = false;  // the device holds exactly what was sent
  std::string mismatch;        // what differs, when it does
  double seconds = 0;          // wall time of the tool's run
  double cpu_seconds = 0;      // user and system time of the tool, all its threads
  long polls = 0, answers = 0;  // the device's own counts
  std::string log;             // the tool's stderr
  bool Success() const { return exit_status == 0 && content_exact; }
  // The one outcome that must never happen.
  bool SilentCorruption() const { return exit_status == 0 && !content_exact; }
};

struct MatrixPrograms {
  std::string cli;
  std::string sim;
};

// Runs one cell with the given fault seed in a fresh temporary folder.
CellRun RunCell(const MatrixPrograms& programs, const MatrixCell& cell, unsigned seed,
                std::chrono::seconds limit = std::chrono::seconds(120));

}  // namespace orvane::e2e
