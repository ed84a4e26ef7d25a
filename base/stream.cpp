// Streams and files: the unbuffered descriptor and memory streams, the
// 1000-byte buffered stream on top of them; writes of protected files are not
// cut short by Ctrl-C.
//
// The buffered stream keeps track of where its inner stream stands (innerPos_)
// and moves it only when a refill or a write-out needs another place, so that
// sequential reading and writing never seek.
#include "base/stream.h"

#include <algorithm>
#include <cstring>

#include "base/chars.h"
#include "base/lock.h"
#include "base/msg.h"
#include "base/platform/file.h"
#include "base/platform/process.h"
#include "base/text.h"

// ---- LStream: operations a class does not support ----

int LStream::read(void*, int) { internalErrorCode(51000); }
int LStream::write(const void*, int) { internalErrorCode(51010); }
int64_t LStream::seek(int64_t) { internalErrorCode(51020); }
int64_t LStream::tell() { internalErrorCode(51030); }
void LStream::flush() { internalErrorCode(51040); }
bool LStream::isOpen() { internalErrorCode(51050); }
void LStream::close() { internalErrorCode(51060); }
void LStream::truncate(int64_t) { internalErrorCode(51070); }
const char* LStream::name() const { return tr(Tx::unknownStream); }

int LStream::writeText(const char* text, int n) {
    if (!text) return 0;
    if (n < 0) n = static_cast<int>(std::strlen(text));
    return n > 0 ? write(text, n) : 0;
}

int LStream::printf(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int n = printfV(fmt, args);
    va_end(args);
    return n;
}

int LStream::printfV(const char* fmt, va_list args) {
    LString text;
    text.appendFormatV(fmt, args);
    return writeText(text);
}

// ---- LHandle ----

LHandle::~LHandle() { LHandle::close(); }

int LHandle::read(void* buf, int n) {
    if (handle < 0 || n <= 0) return 0;
    const int r = platformRead(handle, buf, n);
    if (r < 0) {
        msg(Tx::readFailed);
        return 0;
    }
    return r;
}

int LHandle::write(const void* buf, int n) {
    if (handle < 0 || n <= 0) return 0;
    const int r = platformWrite(handle, buf, n);
    if (r < 0) {
        msg(Tx::writeFailed);
        return 0;
    }
    return r;
}

int64_t LHandle::seek(int64_t pos) {
    if (handle < 0) return 0;
    const int64_t r = platformSeek(handle, pos);
    if (r < 0) msg(Tx::seekFailed);
    return r;
}

int64_t LHandle::tell() {
    if (handle < 0) return 0;
    const int64_t r = platformTell(handle);
    if (r < 0) msg(Tx::seekFailed);
    return r;
}

void LHandle::close() {
    if (handle < 0) return;
    const int fd = handle;
    handle = -1;
    if (platformClose(fd) < 0) msg(Tx::closeFailed);
}

void LHandle::truncate(int64_t pos) {
    if (handle < 0) return;
    if (pos >= 0) seek(pos);
    const int64_t at = platformTell(handle);
    if (at < 0 || platformTruncate(handle, at) < 0) msg(Tx::truncateFailed);
}

void LHandle::sync() {
    if (handle >= 0 && platformSync(handle) < 0) msg(Tx::syncFailed);
}

// ---- LFile ----

LFile::~LFile() = default;

int LFile::open(const char* name, int mode, bool reportFailure, bool protect) {
    close();
    fileName_.reset(blockStrdup(name ? name : ""));
    protect_ = false;
    int fd;
    switch (mode) {
    case 'r': fd = platformOpenRead(name); break;
    case 'w': fd = platformOpenWrite(name, true); break;
    case 'a': fd = platformOpenWrite(name, false); break;
    default: internalErrorCode(1130);
    }
    if (fd < 0) {
        if (reportFailure) msg(Tx::cannotOpen, fileName());
        return 1;
    }
    handle = fd;
    protect_ = protect && mode != 'r';
    return 0;
}

int LFile::write(const void* buf, int n) {
    if (!protect_) return LHandle::write(buf, n);
    // Ctrl-C waits until the bytes are out, so that no entry is cut in half.
    platformBeginProtectedWrite();
    const int written = LHandle::write(buf, n);
    platformEndProtectedWrite();
    return written;
}

const char* LFile::name() const { return fileName_ ? fileName_.get() : LStream::name(); }

// ---- LMemStream ----

LMemStream::LMemStream(const char* bytes, int length)
    : bytes_(bytes ? bytes : ""), length_(length >= 0 ? length : (bytes ? static_cast<int>(std::strlen(bytes)) : 0)) {}

int LMemStream::read(void* buf, int n) {
    const int k = std::min(n, length_ - pos_);
    if (k <= 0) return 0;
    std::memcpy(buf, bytes_ + pos_, static_cast<size_t>(k));
    pos_ += k;
    return k;
}

int64_t LMemStream::seek(int64_t pos) {
    if (pos < 0) pos_ = length_;
    else if (pos <= length_) pos_ = static_cast<int>(pos);
    return pos_;
}

// ---- LSrmBase ----

LSrmBase::LSrmBase(LStream* inner) : inner_(inner), buf_(blockAllocOwned(kBufCap + 2)) {
    buf_.get()[0] = 0;
    buf_.get()[1] = 0;
}

LSrmBase::~LSrmBase() {
    if (inner_) LSrmBase::close();
}

void LSrmBase::releaseInner() {
    if (inner_) LSrmBase::close();
    inner_ = nullptr;
}

int LSrmBase::linesIn(const char* p, int n) const {
    return (flags_ & kWideLines) ? countPair('\n', 0, p, n) : countByte('\n', p, n);
}

void LSrmBase::syncInner(int64_t pos) {
    if (innerPos_ == pos || !inner_) return;
    innerPos_ = inner_->seek(pos);
}

void LSrmBase::shift(bool keep) {
    int drop = keep ? std::max(0, readPos_ - kKeepBack) : bufLen_;
    if (drop == 0) return;
    char* b = buf();
    if (flags_ & kPending) {
        drop = writeOut(drop);  // only what was written is dropped
        if (drop == 0) return;
    }
    if (lineBase_) lineBase_ += linesIn(b, drop);
    bufStart_ += drop;
    if (drop < bufLen_) {
        std::memmove(b, b + drop, static_cast<size_t>(bufLen_ - drop));
        bufLen_ -= drop;
        readPos_ = std::max(0, readPos_ - drop);
    } else {
        bufLen_ = 0;
        readPos_ = 0;
        flags_ &= ~kPending;
    }
    b[bufLen_] = 0;
    b[bufLen_ + 1] = 0;
}

int LSrmBase::writeOut(int n) {
    if (!inner_) return 0;
    syncInner(bufStart_);
    const char* b = buf();
    int written = 0;
    int idle = 0;
    while (written < n) {
        const int w = inner_->write(b + written, n - written);
        if (w > 0) {
            written += w;
            innerPos_ += w;
            idle = 0;
        } else if (++idle >= 2) {
            if (flags_ & kWriteFatal) internalError("write error to %s", name());
            break;
        }
    }
    return written;
}

void LSrmBase::writePending() {
    if ((flags_ & kPending) && writeOut(bufLen_) == bufLen_) flags_ &= ~kPending;  // else the bytes stay pending
}

int LSrmBase::fill() {
    shift(true);
    if (!inner_ || bufLen_ >= kBufCap) return 0;
    syncInner(bufStart_ + bufLen_);
    char* b = buf();
    const int r = inner_->read(b + bufLen_, kBufCap - bufLen_);
    if (r > 0) {
        bufLen_ += r;
        innerPos_ += r;
    }
    b[bufLen_] = 0;
    b[bufLen_ + 1] = 0;
    return r > 0 ? r : 0;
}

int LSrmBase::read(void* dst, int n) {
    if (n <= 0) return 0;
    auto* out = static_cast<char*>(dst);
    int done = 0;
    int empty = 0;
    for (;;) {
        const int k = std::min(n - done, bufLen_ - readPos_);
        if (k > 0) {
            std::memcpy(out + done, buf() + readPos_, static_cast<size_t>(k));
            readPos_ += k;
            done += k;
            empty = 0;
        } else if (++empty >= 2) {
            flags_ |= kEnd;
            break;
        }
        if (done >= n) break;
        fill();
    }
    return done;
}

int LSrmBase::getByteSlow() {
    unsigned char c;
    return read(&c, 1) == 1 ? c : -1;
}

int LSrmBase::write(const void* src, int n) {
    if (n <= 0) return 0;
    const auto* in = static_cast<const char*>(src);
    int done = 0;
    int idle = 0;
    for (;;) {
        const int k = std::min(n - done, kBufCap - readPos_);
        if (k > 0) {
            std::memcpy(buf() + readPos_, in + done, static_cast<size_t>(k));
            readPos_ += k;
            bufLen_ = std::max(bufLen_, readPos_);
            flags_ |= kPending;
            done += k;
            idle = 0;
        } else if (++idle >= 2) {
            break;  // the inner stream takes nothing: the rest is not taken
        }
        if (done >= n) break;
        shift(true);
    }
    buf()[bufLen_] = 0;
    buf()[bufLen_ + 1] = 0;
    return done;
}

void LSrmBase::discardBuffer(int64_t at) {
    bufStart_ = at;
    bufLen_ = 0;
    readPos_ = 0;
    flags_ &= ~kPending;
    buf()[0] = 0;
    buf()[1] = 0;
}

int64_t LSrmBase::seek(int64_t pos) {
    if (pos >= bufStart_ && pos <= bufStart_ + bufLen_) {
        readPos_ = static_cast<int>(pos - bufStart_);
    } else {
        shift(false);
        int64_t at = pos;
        if (inner_) at = inner_->seek(pos);
        innerPos_ = at;
        discardBuffer(at >= 0 ? at : std::max<int64_t>(pos, 0));
        lineBase_ = 0;
    }
    flags_ &= ~kEnd;
    return tell();
}

void LSrmBase::flush() {
    writePending();
    if (inner_) inner_->flush();
}

void LSrmBase::close() {
    writePending();
    discardBuffer(bufStart_ + bufLen_);
    if (inner_) inner_->close();
}

int LSrmBase::getChar() {
    const int c = getByte();
    if (c < 0 || !isLeadByte(static_cast<unsigned char>(c))) return c;
    const int d = getByte();
    if (d < 0) return c;
    return c * 256 + d;
}

int LSrmBase::lineNumber() const {
    if (!lineBase_) return 0;
    return lineBase_ + linesIn(buf_.get(), readPos_);
}

int LSrmBase::column() const {
    const char* b = buf_.get();
    for (int i = readPos_ - 1; i >= 0; --i) {
        if (b[i] == '\n') return readPos_ - i;
    }
    return -1;
}

bool LSrmBase::lookingAt(const char* text) {
    if (!text) return true;
    const int n = static_cast<int>(std::strlen(text));
    if (n > kBufCap - kKeepBack) return false;
    while (bufLen_ - readPos_ < n) {
        if (fill() <= 0) break;
    }
    return bufLen_ - readPos_ >= n && std::memcmp(buf() + readPos_, text, static_cast<size_t>(n)) == 0;
}

int LSrmBase::readUntil(const char* delims, LString* out) {
    bool isDelim[256] = {};
    for (const char* d = delims ? delims : ""; *d; ++d) isDelim[static_cast<unsigned char>(*d)] = true;
    for (;;) {
        const char* b = buf();
        const int start = readPos_;
        while (readPos_ < bufLen_ && !isDelim[static_cast<unsigned char>(b[readPos_])]) ++readPos_;
        if (out && readPos_ > start) out->append(b + start, readPos_ - start);
        if (readPos_ < bufLen_) return static_cast<unsigned char>(b[readPos_]);
        // The buffer is used up: one byte through read(), which refills it.
        unsigned char c;
        if (read(&c, 1) != 1) return -1;
        if (isDelim[c]) {
            --readPos_;  // put back; read() left it in the buffer
            return c;
        }
        if (out) out->appendChar(static_cast<char>(c));
    }
}

int LSrmBase::readLine(LString& out, int mode) {
    out.truncate(0);
    const int end = readUntil("\r\n", &out);
    if (end < 0 || mode == 2) return end;
    getByte();  // the CR or LF found above
    if (end == '\r') {
        // Peek for the LF of a CR LF pair without marking the end of the input:
        // the end shows on the next read, so an empty line after a lone CR is
        // still a line.
        if (readPos_ >= bufLen_) fill();
        if (readPos_ < bufLen_ && buf()[readPos_] == '\n') {
            ++readPos_;
            if (mode == 1) out.append("\r\n", 2);
            return end;
        }
        if (mode == 1) out.appendChar('\r');
        return end;
    }
    if (mode == 1) out.appendChar('\n');
    return end;
}

// ---- LIoFile and LMemSrm ----

LIoFile::LIoFile() : LSrm(&file_) {}

LIoFile::LIoFile(const char* name, int mode, bool reportFailure) : LSrm(&file_) { open(name, mode, reportFailure); }

LIoFile::~LIoFile() { releaseInner(); }

int LIoFile::open(const char* name, int mode, bool reportFailure) {
    LSrmBase::close();
    discardBuffer(0);
    innerPos_ = 0;
    lineBase_ = 1;
    flags_ &= ~kEnd;
    const int r = file_.open(name, mode, reportFailure, true);
    if (r == 0 && mode == 'a') seek(-1);
    return r;
}

void LIoFile::truncate(int64_t pos) {
    const int64_t here = tell();
    if (pos < 0) pos = here;
    const int line = pos == here ? lineNumber() : (pos == 0 ? 1 : 0);
    writePending();
    file_.truncate(pos);
    innerPos_ = file_.isOpen() ? file_.tell() : 0;
    discardBuffer(pos);
    lineBase_ = line;
    flags_ &= ~kEnd;
}

LMemSrm::LMemSrm(const char* bytes, int length) : LSrm(&mem_), mem_(bytes, length) {}

LMemSrm::~LMemSrm() { releaseInner(); }

// ---- file functions ----

int64_t fileSize(const char* name) {
    if (!name) return -1;
    const int fd = platformOpenRead(name);
    if (fd < 0) return -1;
    const int64_t size = platformFileSize(fd);
    platformClose(fd);
    return size;
}

bool removeUnlockedFile(const char* name) { return name && platformRemoveUnlocked(name) == 0; }
