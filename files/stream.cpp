// The data_file stream: a window of an operating-system file (a loose file or
// an archive member) or an inflated gzip stream, with one character of
// push-back. Plain streams read straight from stdio, whose buffering serves
// the one-byte calls.
#include "files/files_local.h"

#include <cstdarg>
#include <cstring>
#include <new>

data_file *stream_make(FILE *file, uint32_t base, uint32_t limit, bool writable, const char *name)
{
    if (base != 0 && std::fseek(file, long(base), SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    // Through the checked allocator, so a stream never closed shows up in
    // the leak report.
    void *mem = kr_malloc(sizeof(data_file));
    if (!mem) {
        std::fclose(file);
        return nullptr;
    }
    auto *f = new (mem) data_file;
    f->file = file;
    f->base = base;
    f->limit = limit;
    f->writable = writable;
    f->name = name;
    return f;
}

int data_getc(data_file *f)
{
    if (f->pushback >= 0) {
        int c = f->pushback;
        f->pushback = -1;
        return c;
    }
    if (f->z)
        return inflate_getc(f);
    if (f->count >= f->limit)
        return -1;
    int c = std::getc(f->file);
    if (c == EOF)
        return -1;
    f->count++;
    return c;
}

int data_peekc(data_file *f)
{
    int c = data_getc(f);
    f->pushback = c;
    return c;
}

char *data_gets(data_file *f, char *buf, int size)
{
    if (size <= 0)
        return nullptr;
    if (data_peekc(f) < 0)
        return nullptr;
    int n = 0;
    while (n < size - 1) {
        int c = data_getc(f);
        if (c < 0)
            break;
        buf[n++] = char(c);
        if (c == '\n')
            break;
    }
    buf[n] = 0;
    return buf;
}

size_t data_read(data_file *f, void *buf, size_t count)
{
    auto *out = static_cast<uint8_t *>(buf);
    size_t n = 0;
    if (count > 0 && f->pushback >= 0) {
        out[n++] = uint8_t(f->pushback);
        f->pushback = -1;
    }
    if (n == count)
        return n;
    if (f->z)
        return n + inflate_read(f, out + n, count - n);
    size_t room = f->limit - f->count;
    size_t want = count - n < room ? count - n : room;
    size_t got = want ? std::fread(out + n, 1, want, f->file) : 0;
    f->count += uint32_t(got);
    return n + got;
}

int data_skip_space(data_file *f)
{
    int skipped = 0;
    for (;;) {
        int c = data_getc(f);
        if (c < 0)
            return skipped ? skipped : -1;
        if (!std::strchr(" \t\n\v\f\r", c)) {
            f->pushback = c;
            return skipped;
        }
        skipped++;
    }
}

void data_skip_comments(data_file *f)
{
    // The effect of scanning " #%*[^\n]" until a pass consumes nothing.
    for (;;) {
        (void)data_skip_space(f);
        if (data_peekc(f) != '#')
            return;
        (void)data_getc(f);
        int c;
        while ((c = data_getc(f)) >= 0 && c != '\n') {
        }
        if (c == '\n')
            f->pushback = c;
    }
}

int data_putc(data_file *f, int c)
{
    return f->writable ? std::fputc(c, f->file) : -1;
}

int data_puts(data_file *f, const char *s)
{
    return f->writable ? std::fputs(s, f->file) : -1;
}

size_t data_write(data_file *f, const void *buf, size_t count)
{
    return f->writable ? std::fwrite(buf, 1, count, f->file) : 0;
}

int data_printf(data_file *f, const char *fmt, ...)
{
    if (!f->writable)
        return -1;
    va_list ap;
    va_start(ap, fmt);
    int n = std::vfprintf(f->file, fmt, ap);
    va_end(ap);
    return n;
}

int data_flush(data_file *f)
{
    return f->writable ? std::fflush(f->file) : -1;
}

bool data_seek(data_file *f, uint32_t offset)
{
    if (f->z || offset >= f->limit)
        return false;
    if (std::fseek(f->file, long(f->base) + long(offset), SEEK_SET) != 0)
        return false;
    f->pushback = -1;
    f->count = offset;
    return true;
}

void data_close(data_file *f)
{
    if (!f)
        return;
    if (f->z)
        inflate_end(f);
    std::fclose(f->file);
    f->~data_file();
    kr_free(f);
}
