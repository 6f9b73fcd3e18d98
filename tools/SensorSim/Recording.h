// Reading a recording of a serial line (the format LineRecorder writes, see
// LineRecorder.h) back into its lines and their arrival times.
//
// A damaged recording never stops the reader: a line without a valid time,
// with bytes that are not properly escaped (a binary line), longer than
// kMaxRecordingLine, or cut short at the end of the file (no LF) is skipped
// and counted. Comment lines ("#...") are neither lines nor faults.
//
// One thread at a time per object.
#ifndef SENSORSIM_RECORDING_H
#define SENSORSIM_RECORDING_H

#include "LineRecorder.h"

#include <cstddef>
#include <istream>
#include <string>

// Longest recording line read; a serial line of 16 KiB escaped at worst.
constexpr std::size_t kMaxRecordingLine = 64 * 1024 + 64;

struct RecordedLine
{
    RecordClock::time_point arrival;
    std::string bytes; // as they came, line end included when there was one
};

class RecordingReader
{
public:
    // Reads from in, which must outlive the reader.
    explicit RecordingReader(std::istream& in) : in(in) {}

    // The next sound line; false at the end of the input.
    bool Next(RecordedLine& line);
    // Lines skipped so far as damaged.
    std::size_t Skipped() const { return skipped; }

private:
    std::istream& in;
    std::size_t skipped = 0;
};

// Whether the file at path is a recording: its first line is the recording
// header or a recording line. False for a file that cannot be read and for
// anything but a regular file (a pipe is only read once, by the replay).
bool IsRecordingFile(const std::string& path);

#endif
