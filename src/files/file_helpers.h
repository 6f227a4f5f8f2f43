// Whole-file reading and writing, the way every part of the system touches its files: raw
// bytes, no text translation, names through the file layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "files/file_problem.h"

namespace zemlo {

// The stream, unbuffered: each write or read goes to the system as one call of its own size
// (a buffered stream splits a whole file's bytes at its buffer's size, asks the system for
// the file's block size first, and reads ahead of what was asked). nullptr stays nullptr.
std::FILE* Unbuffered(std::FILE* file);

// Length of the named file in bytes; 0 when it cannot be opened.
std::int64_t FileLength(const char* name);

// Reads min(file length, limit, buffer.size() - 1) bytes into the front of `buffer` and
// stores a zero byte right after them, so callers may treat the bytes as text. nullopt when
// the file cannot be opened (the buffer is then untouched; `problem`, if given, says why);
// an empty buffer receives nothing and gives 0.
// With `size`, it is set to the file's length as the read found it: the bytes read when the
// file ended before the room did, else asked of the open file (0 when it cannot say).
std::optional<std::size_t> ReadWholeFile(const char* name, std::span<std::uint8_t> buffer,
                                         std::size_t limit, files::FileProblem* problem = nullptr,
                                         std::uint64_t* size = nullptr);

// Creates or truncates the file and writes `data`. False when the file cannot be created or
// not every byte reached it. The old content is gone the moment the file is opened: for
// files that must never be half-written use ReplaceWholeFile.
bool WriteWholeFile(const char* name, std::span<const std::uint8_t> data);

// Creates or truncates the file and writes `length` zero bytes; false as WriteWholeFile.
bool WriteZeroFile(const char* name, std::size_t length);

// Writes `data` under a temporary name in the same folder and then moves it over `name` in
// one step, so at every moment `name` holds either its old or its new content. False (and
// `name` unchanged) when any step fails. The temporary is created anew, never through a link
// (files::OpenReplacement). With kFlushToDisk the new content reaches the disk before the move
// and the move before the return, which survives a power loss too; kNoFlush keeps only the
// old-or-new promise against a killed process, at no cost per file; kForCommit is for the many
// files of one commit (a block's single entry files): the caller passes every such name to
// files::FlushFilesToDisk before the commit, and each system flushes them its cheapest way
// (see files::FlushBeforeCommit).
enum class Durability { kFlushToDisk, kNoFlush, kForCommit };
bool ReplaceWholeFile(const char* name, std::span<const std::uint8_t> data,
                      Durability durability = Durability::kFlushToDisk);

// Appended to a name for the copy that ReplaceWholeFile writes first; it lies in the same
// folder, so the final move never crosses file systems.
inline constexpr const char* kReplaceSuffix = ".zgl-new";

// The name under which ReplaceWholeFile and CreateWholeFile write `name`'s new content first.
std::string TemporaryNameOf(const char* name);

// Removes the temporary file that a killed ReplaceWholeFile or CreateWholeFile of `name` left
// behind, if any. Only names this writer makes are touched. True when one was removed.
bool RemoveLeftoverTemporary(const char* name);

// Writes `data` as a new file `name`: through the temporary name, flushed to disk, then moved
// into place together with the folder entry, so after a crash `name` is either missing or
// whole. False (and nothing left behind) when `name` already exists or any step fails.
bool CreateWholeFile(const char* name, std::span<const std::uint8_t> data);

}  // namespace zemlo
