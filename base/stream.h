// Streams and files: every file the system reads or writes goes through here.
//
// LStream is the abstract stream; LHandle is an unbuffered stream over a file
// descriptor and LFile one that opens and owns a named file; LMemStream reads
// bytes owned by someone else. LSrmBase adds a 1000-byte buffer on top of an
// inner stream (single-byte reads, look-ahead, line reading and counting);
// LSrm is it over a given inner stream, LIoFile over an embedded LFile and
// LMemSrm over an embedded LMemStream.
//
// Operations a class does not support stay run-time checks: the LStream
// versions end the process with internal errors 51000 (read) to 51070
// (truncate), so every stream can be handled through an LStream pointer.
// Positions are 64-bit, so that a long-running log file can pass 2 GB.
//
// A file opened for writing holds an exclusive advisory lock: a second open for
// writing of the same file (by this or another process) fails like any other
// open failure, instead of two writers overwriting each other's bytes. Files
// opened with Ctrl-C protection are never cut short by it in the middle of a
// write: an interrupt waits until the write has ended (counted across threads).
#pragma once

#include <cstdarg>
#include <cstdint>

#include "base/block.h"
#include "base/lstring.h"
#include "base/obj.h"

class LStream : public LObj {
public:
    ~LStream() override = default;

    // Bytes read into buf (at most n); 0 at the end or on failure.
    virtual int read(void* buf, int n);
    // Bytes taken from buf (at most n).
    virtual int write(const void* buf, int n);
    // Moves to pos (pos < 0: the end); returns the new position.
    virtual int64_t seek(int64_t pos);
    virtual int64_t tell();
    virtual void flush();
    virtual bool isOpen();
    virtual void close();
    // Cuts the stream at pos (pos < 0: at the current position).
    virtual void truncate(int64_t pos = -1);
    // A display name; "(unknown stream)" unless a class knows better.
    virtual const char* name() const;

    // Writes n bytes of text (n < 0: up to its terminator; null writes nothing);
    // returns the bytes written.
    int writeText(const char* text, int n = -1);
    int writeText(const LString& text) { return writeText(text.data(), text.len()); }
    // Formats (any length) and writes the result; returns the bytes written.
    // fmt is program text, never user text.
    int printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    int printfV(const char* fmt, va_list args);
};

// An unbuffered stream over a file descriptor (-1 when closed); destroying it
// closes the descriptor. System call failures are reported as error 17000 with
// the call's name and the system's text, and the operation returns what was
// transferred; on a closed descriptor read, write, seek and tell return 0.
class LHandle : public LStream {
public:
    explicit LHandle(int fd = -1) : handle(fd) {}
    ~LHandle() override;

    int read(void* buf, int n) override;
    int write(const void* buf, int n) override;
    int64_t seek(int64_t pos) override;
    int64_t tell() override;
    // The bytes written are in the system already and visible to every reader;
    // flush has nothing more to do (sync() forces them onto the disk).
    void flush() override {}
    bool isOpen() override { return handle >= 0; }
    void close() override;
    void truncate(int64_t pos = -1) override;
    const char* name() const override { return "file descriptor"; }

    // Forces the written bytes onto the storage device (fsync).
    void sync();
    int fd() const { return handle; }

protected:
    int handle;
};

// An LHandle that opens and owns a named file.
class LFile : public LHandle {
public:
    LFile() = default;
    ~LFile() override;

    // Opens name with mode 'r' (read an existing file), 'w' (write, created or
    // truncated) or 'a' (write at the end, created when missing); any other mode
    // is an internal error (1130). A previous file is closed first. With
    // reportFailure a failure is reported as error 17000 "cannot open %s" (in the
    // process language) with the system's text. With protect, each write of a
    // file opened for writing finishes before Ctrl-C can end the process.
    // Returns 0 when the file is open, 1 otherwise.
    int open(const char* name, int mode, bool reportFailure = true, bool protect = false);
    int write(const void* buf, int n) override;
    const char* name() const override;
    // The name as passed to open ("" before any open).
    const char* fileName() const { return fileName_ ? fileName_.get() : ""; }

private:
    bool protect_ = false;  // writes are protected from Ctrl-C
    BlockPtr<char> fileName_;
};

// A read-only unbuffered stream over bytes owned by someone else.
class LMemStream : public LStream {
public:
    LMemStream(const char* bytes, int length);  // length < 0: up to the terminator

    int read(void* buf, int n) override;
    // Moves when 0 <= pos <= length (pos < 0: to the end); returns the position.
    int64_t seek(int64_t pos) override;
    int64_t tell() override { return pos_; }
    void flush() override {}
    bool isOpen() override { return true; }
    void close() override {}

private:
    const char* bytes_;
    int length_;
    int pos_ = 0;
};

// The buffered stream over an inner stream. Reads and writes go through a
// 1000-byte buffer; when it is shifted, 20 bytes before the read position are
// kept so that a peeked byte can always be put back. Lines are counted from 1
// while line counting is on (a seek outside the buffer switches it off).
class LSrmBase : public LStream {
public:
    enum : int {
        kPending = 1,    // the buffer holds bytes not yet written to the inner stream
        kEnd = 2,        // the end of the input was seen
        kWriteFatal = 4, // a write that cannot make progress ends the process
        kWideLines = 8,  // lines end with the byte pair 0A 00 (16-bit text)
    };
    static constexpr int kBufCap = 1000;
    static constexpr int kKeepBack = 20;

    ~LSrmBase() override;  // writes pending output and closes the inner stream

    int read(void* buf, int n) override;
    int write(const void* buf, int n) override;
    int64_t seek(int64_t pos) override;
    int64_t tell() override { return bufStart_ + readPos_; }
    // Writes pending output and flushes the inner stream; the position stays.
    void flush() override;
    bool isOpen() override { return inner_ && inner_->isOpen(); }
    // Writes pending output and closes the inner stream.
    void close() override;

    // The next byte (0..255) or -1 at the end.
    int getByte() {
        if (readPos_ < bufLen_) return static_cast<unsigned char>(buf_.get()[readPos_++]);
        return getByteSlow();
    }
    // The next character: a double-byte character as lead * 256 + second byte;
    // -1 at the end.
    int getChar();
    bool atEnd() const { return (flags_ & kEnd) != 0; }
    // The number of the line the read position is in (0 when counting is off).
    int lineNumber() const;
    // Distance of the read position from the last line feed before it in the
    // buffer, or -1 when there is none.
    int column() const;
    // True when the next bytes equal text; consumes nothing.
    bool lookingAt(const char* text);

    // Reads up to the first byte that occurs in delims (a 0 byte never counts),
    // appending the bytes before it to out (when given). The delimiter is left
    // unread and returned; -1 at the end of the input.
    int readUntil(const char* delims, LString* out);
    int readUntil(const char* delims, LString& out) { return readUntil(delims, &out); }

    // Reads one line into out (replacing its content). The line end (CR LF, a
    // lone CR or a lone LF) is consumed and dropped with mode 0, consumed and
    // appended with mode 1, left unread with mode 2. Returns the first byte of
    // the line end, or -1 when the input ended before one. The end of the input
    // shows as atEnd() together with an empty line, so a last line without a line
    // end is still returned.
    int readLine(LString& out, int mode = 0);

    LStream* inner() const { return inner_; }
    int flags() const { return flags_; }
    void setFlags(int flags) { flags_ = flags; }

protected:
    explicit LSrmBase(LStream* inner);
    // For classes that embed their inner stream: closes and forgets it, so that
    // the base destructor does not touch a destroyed member.
    void releaseInner();
    // Drops bytes from the front of the buffer (all of it, or all but keepBack
    // before the read position), writing pending ones out first.
    void shift(bool keep);
    // Writes every pending byte out, keeping the buffer as it is.
    void writePending();
    // Writes the first n bytes of the buffer to the inner stream at bufStart_;
    // returns how many it took (fewer when the inner stream stops taking them;
    // with kWriteFatal that ends the process).
    int writeOut(int n);
    // Shifts (keeping keepBack) and reads more from the inner stream behind the
    // valid bytes; the bytes read.
    int fill();
    // Moves the inner stream to pos when it stands elsewhere.
    void syncInner(int64_t pos);
    void discardBuffer(int64_t at);
    char* buf() { return buf_.get(); }

    LStream* inner_;
    BlockPtr<char> buf_;
    int64_t bufStart_ = 0;  // position in the inner stream of buf[0]
    int64_t innerPos_ = 0;  // where the inner stream stands (-1: unknown)
    int readPos_ = 0;
    int bufLen_ = 0;
    int lineBase_ = 1;      // number of the line buf[0] lies in; 0: counting off
    int flags_ = 0;

private:
    int getByteSlow();
    int linesIn(const char* p, int n) const;
};

// The buffered stream over a given inner stream (not owned; it is closed when
// this stream is closed or destroyed).
class LSrm : public LSrmBase {
public:
    explicit LSrm(LStream* inner) : LSrmBase(inner) {}
};

// A buffered file: the file is opened with Ctrl-C protection. Mode 'a' seeks the
// buffered stream to the end.
class LIoFile : public LSrm {
public:
    LIoFile();
    LIoFile(const char* name, int mode, bool reportFailure = true);
    ~LIoFile() override;

    // Opens (after closing a previous file); 0 when open, 1 otherwise.
    int open(const char* name, int mode, bool reportFailure = true);
    // Writes pending output, cuts the file at pos (pos < 0: the current
    // position) and continues there.
    void truncate(int64_t pos = -1) override;
    const char* name() const override { return file_.name(); }
    const char* fileName() const { return file_.fileName(); }
    LFile& file() { return file_; }

private:
    LFile file_;
};

// A buffered stream over bytes in memory (owned by someone else).
class LMemSrm : public LSrm {
public:
    LMemSrm(const char* bytes, int length = -1);
    ~LMemSrm() override;

private:
    LMemStream mem_;
};

// The size of the named file, or -1 when it cannot be opened (or name is null).
int64_t fileSize(const char* name);

// Removes the named file unless a writer holds it open; true when removed.
bool removeUnlockedFile(const char* name);

