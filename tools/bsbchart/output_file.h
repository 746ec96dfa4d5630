// Files the command writes: under a temporary name created exclusively in
// the output's directory and renamed into place, so that a failure, a full
// disk, an exceeded file size limit or an interrupt leaves nothing behind
// and a name planted there (a symbolic link) is never followed; or to
// standard output for "-".
#ifndef BSBCHART_COMMAND_OUTPUT_FILE_H
#define BSBCHART_COMMAND_OUTPUT_FILE_H

#include <cstddef>
#include <string>
#include <vector>

namespace command {

struct OutputPiece {
    const void* bytes;
    size_t size;
};

// Writes the pieces in turn to `path` (the command's spelling of it: UTF-8
// on Windows, the name's bytes elsewhere), or to standard output when `path`
// is "-". Empty on success, else the reason. While the temporary file exists
// SIGINT, SIGTERM and SIGHUP remove it and end the command with status 1.
std::string WriteOutput(const std::string& path, const std::vector<OutputPiece>& pieces);

// True when `output` is the file `chart` (same device and inode, through any
// link), or when `output` is "-" and standard output is that file.
bool IsChartItself(const std::string& chart, const std::string& output);

// Flushes standard output, keeping the first write error for
// StandardOutputError.
void FlushStandardOutput();

// Flushes standard output: 0 when everything written there reached it, else
// the first error (errno).
int StandardOutputError();

// Makes a file size limit an ordinary write error (EFBIG) rather than
// SIGXFSZ, which would end the command with its temporary file in place.
void TreatFileSizeLimitAsWriteError();

}  // namespace command

#endif
