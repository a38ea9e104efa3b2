// Whole files in and out for the commands: read at once, written through a
// temporary file so that a failure leaves nothing, and the guard that keeps
// an output from replacing an input.
#ifndef KMOV_TOOLS_FILE_IO_H
#define KMOV_TOOLS_FILE_IO_H

#include "error.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kmov {

// Reads a whole file; a folder is refused. Errors name the file.
Expected<std::vector<uint8_t>> read_whole_file(const std::string &path);

// Writes `bytes` to a temporary file beside `path`, then renames it into
// place, so that a failure leaves neither a partial file nor the temporary.
// `executable` gives the file mode 0755 (else 0644). Errors name the file.
Status write_file_atomically(const std::filesystem::path &path, std::span<const uint8_t> bytes,
                             bool executable = false);

// A usage error when one of `outputs` is the same file as one of `inputs`:
// the same device and inode, so that another spelling of the path, a link
// or a hard link counts too. Writing the output would replace the input, so
// a command checks this before it reads anything. Empty names and names
// that are not there (yet) are passed over.
Status refuse_output_over_input(const std::vector<std::string> &outputs,
                                const std::vector<std::string> &inputs);

} // namespace kmov

#endif
