// files.h -- data files: the search directories, the index of every data
// file (loose files and ".saf" archive members), opening a name as a stream
// (inflating ".gz" variants), the text readers on streams, and the checked
// allocator.
//
// Owns:      the search directories, the file index and its name list, every
//            open data_file, the allocation table of the allocation checker.
// Depends:   platform/ (directories, directory walk, log), zlib.
// Called by: everyone who reads or writes a file; start-up builds the index
//            (file_index_build), sets the loading-screen tick and frees the
//            index at shutdown (file_index_free); kr_alloc_report runs last.
// Lifetime:  the search directories are fixed on first use; the index is
//            built once and not refreshed (files written later are still
//            found by direct path). A data_file lives from data_open to
//            data_close. Nothing here is thread-safe except the allocator.
//
// Names: "@rest" is a data name, looked up under each search directory (home
// first, then the game data directory), then in the index, ignoring case;
// anything else is a path used unchanged. "/" is the separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// ---------------------------------------------------------------- streams

struct data_file;

// Reading. The end of a stream is the end of the file, of an archive member,
// or of the compressed data; reads there return -1 or short counts.
// The next byte, or the push-back character if there is one.
[[nodiscard]] int data_getc(data_file *f);
// Like data_getc, but the character stays as the push-back character.
[[nodiscard]] int data_peekc(data_file *f);
// Reads up to and including "\n", or size - 1 bytes, and ends the text with
// a zero byte; null when the stream was already at its end.
char *data_gets(data_file *f, char *buf, int size);
// Reads at most `count` bytes; returns how many were stored.
[[nodiscard]] size_t data_read(data_file *f, void *buf, size_t count);
// scanf conventions over the stream: returns the number of assigned
// conversions, or -1 when the input ended before the first conversion. The
// first character that does not fit is left as the push-back character.
// Field widths bound every store ("%15s" stores at most 15 characters and a
// zero); integers that overflow saturate at the limits of their type.
int data_scanf(data_file *f, const char *fmt, ...) __attribute__((format(scanf, 2, 3)));
// Skips white space and "#" comments up to the next item.
void data_skip_comments(data_file *f);
// Skips white space; returns how many characters were skipped, -1 at the end.
int data_skip_space(data_file *f);

// Writing (streams opened in a write mode; -1 / 0 otherwise).
int data_putc(data_file *f, int c);
int data_puts(data_file *f, const char *s);
[[nodiscard]] size_t data_write(data_file *f, const void *buf, size_t count);
int data_printf(data_file *f, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int data_flush(data_file *f);

// Moves to `offset` from the start of the stream's data. Not on inflated
// streams, and only below the stream's limit. Drops the push-back character.
[[nodiscard]] bool data_seek(data_file *f, uint32_t offset);
// Ends inflation, closes the file, releases the stream. Null is ignored.
void data_close(data_file *f);

struct data_file_closer {
    void operator()(data_file *f) const { data_close(f); }
};
using data_file_ptr = std::unique_ptr<data_file, data_file_closer>;

// Opens a name: "rb", "wb", "w", "r+b" ... ; a leading "~" keeps a numbered
// backup ("path.~N~") of a file about to be overwritten. Write modes make the
// missing directories along the path. Null when nothing is found, a directory
// cannot be made, a path is too long, a gzip header is bad or a backup cannot
// be made; nothing is logged.
[[nodiscard]] data_file *data_open(const char *name, const char *mode);
// The whole of a data name or path as a zero-ended string (release with
// kr_free); null when it cannot be opened, memory is short, or it holds
// 16 MiB or more (logged).
[[nodiscard]] char *file_to_string(const char *name);
// Moves a file: "@" names are taken in the home directory. The destination
// is replaced atomically, so it survives a missing source or a failed move.
[[nodiscard]] bool data_rename(const char *from, const char *to);

// ---------------------------------------------------------------- search directories and index

// Search directory i ("/"-terminated), null past the end: the home directory
// ($XDG_DATA_HOME/Kessrun/) first, then the game data directory (KR_HOME, else
// the executable's directory). Writers use entry 0.
[[nodiscard]] const char *search_dir(int i);
// Whether the game data directory holds a "tracks" directory or a ".saf" file.
[[nodiscard]] bool data_present();
// Called once per directory walked and per archive read while the index is
// built, so the window stays responsive. Null (the default) for none.
void file_index_set_tick(bool (*tick)());
// Builds the index on its first call; returns the name list: every distinct
// key once, in case-insensitive order, ended by a null. Null when memory is
// short. Later calls return the same list.
[[nodiscard]] const char *const *file_index_build();
// Position of the best (lowest-rank) entry for a key (no "@"), or -1.
[[nodiscard]] int file_index_find(const char *key);
// Writes "key -> open path" into buf, each piece cut to fit; false for a
// position outside the index.
bool file_index_describe(int pos, char *buf, size_t size);
// Whether the index holds the key.
[[nodiscard]] bool data_exists(const char *key);
// Releases the index and the name list.
void file_index_free();
// Makes the home directory and opens it in the desktop's file browser.
[[nodiscard]] bool open_home_in_shell();
// Asks for a working set and high priority, logging each result; left alone
// below 64 MB of physical memory. Called after each track load.
void tune_process_memory();

// ---------------------------------------------------------------- checked allocator

// With KR_CHECK_ALLOC > 0 every live block is tracked, freed blocks are
// zeroed, a free of an unknown address is refused, and kr_alloc_report lists
// the leaks on standard error. Thread-safe.
[[nodiscard]] void *kr_malloc(size_t size);
[[nodiscard]] void *kr_calloc(size_t count, size_t size);
[[nodiscard]] void *kr_realloc(void *block, size_t size);
void kr_free(void *block);
void kr_alloc_report();
// Called when an allocation fails, before null is returned (start-up sets one
// that closes audio and the window, shows "Out of virtual memory", exits).
void kr_set_out_of_memory_handler(void (*handler)(size_t size));
