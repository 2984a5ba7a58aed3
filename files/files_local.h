// files_local.h -- internals shared inside files/: the stream record, the
// inflater, the index entries data_open needs, the log funnel and the test
// hooks. Nothing outside files/ (and its tests) includes this.
#pragma once

#include "files/files.h"

#include <cstdint>
#include <cstdio>
#include <string>

struct inflate_state;

// Loose files are limited only by their own end.
constexpr uint32_t k_loose_limit = 0x7FFFFFFF;
// Compressed input block and decompressed output window of an inflated stream.
constexpr uint32_t k_inflate_block = 16384;
constexpr uint32_t k_inflate_window = 1024;

struct data_file {
    FILE *file = nullptr;
    uint32_t base = 0;              // where the data begins in `file`
    uint32_t limit = k_loose_limit; // bytes that may be taken from `file`
    uint32_t count = 0;             // bytes taken so far
    int pushback = -1;
    bool writable = false;
    inflate_state *z = nullptr;     // set for inflated streams
    std::string name;               // for log lines
};

// A new stream over `file` (taking it over) positioned at `base`; null (and
// the file closed) when seeking there fails.
data_file *stream_make(FILE *file, uint32_t base, uint32_t limit, bool writable, const char *name);

// Reads and checks the gzip header from the stream's first block and starts
// inflating; false when the header is bad (the caller closes the stream).
bool inflate_begin(data_file *f);
void inflate_end(data_file *f);
// Next decompressed byte, or -1 at the end.
int inflate_getc(data_file *f);
// Up to `count` decompressed bytes; how many were stored.
size_t inflate_read(data_file *f, uint8_t *out, size_t count);

// The index entry data_open needs to open a key.
struct index_hit {
    const char *open_path;
    uint32_t offset;
    uint32_t size;
    uint32_t rank;
    bool loose;
};
bool file_index_lookup(const char *key, index_hit *hit);
// The home directory ("/"-terminated), null when it could not be made.
const char *home_dir();

// Everything files/ logs goes through here, so tests can watch it.
void files_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Tests: receive each formatted log message instead of the log file (null to
// restore the log file).
void files_set_log_capture(void (*capture)(const char *text));
// Tests: forget the search directories and the index, so the next use reads
// KR_HOME (and the home directory) again.
void files_reset_for_tests();

// Working-set and priority steps with the system calls supplied, so tests can
// run them on any amount of memory.
struct process_tuning_ops {
    bool (*set_working_set)(uint64_t min_bytes, uint64_t max_bytes);
    bool (*raise_priority)();
};
void tune_process_memory_with(uint64_t physical_bytes, const process_tuning_ops &ops);
// The working-set range that is logged and requested for T bytes of memory.
void working_set_range(uint32_t physical, uint32_t *low, uint32_t *high);

// Allocation checker tests: decide again from KR_CHECK_ALLOC with an empty table.
void kr_alloc_reset_for_tests();
