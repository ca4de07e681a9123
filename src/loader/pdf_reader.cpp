#include "loader/pdf_reader.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "text/utf8.hpp"

namespace slivr {
namespace {

// The part of PDFium's C interface we use, declared from its public headers (fpdfview.h,
// fpdf_text.h). Handles are opaque pointers.
struct FpdfDocument;
struct FpdfPage;
struct FpdfTextPage;

struct FpdfLibraryConfig {  // FPDF_LIBRARY_CONFIG, version 2
    int version;
    const char** user_font_paths;
    void* isolate;
    unsigned int v8_embedder_slot;
};

struct FpdfFileAccess {  // FPDF_FILEACCESS
    unsigned long file_length;
    int (*get_block)(void* param, unsigned long position, unsigned char* buffer, unsigned long size);
    void* param;
};

enum : unsigned long {  // FPDF_GetLastError codes
    kErrSuccess = 0,
    kErrUnknown = 1,
    kErrFile = 2,
    kErrFormat = 3,
    kErrPassword = 4,
    kErrSecurity = 5,
    kErrPage = 6,
};

struct Pdfium {
    void (*init_library_with_config)(const FpdfLibraryConfig*);
    FpdfDocument* (*load_custom_document)(FpdfFileAccess*, const char* password);
    FpdfDocument* (*load_mem_document64)(const void* data, std::size_t size, const char* password);
    unsigned long (*get_last_error)();
    void (*close_document)(FpdfDocument*);
    int (*get_page_count)(FpdfDocument*);
    FpdfPage* (*load_page)(FpdfDocument*, int index);
    void (*close_page)(FpdfPage*);
    FpdfTextPage* (*text_load_page)(FpdfPage*);
    void (*text_close_page)(FpdfTextPage*);
    int (*text_count_chars)(FpdfTextPage*);
    int (*text_get_text)(FpdfTextPage*, int start, int count, unsigned short* result);
};

// PDFium keeps global state and is not thread-safe: every call into it holds this lock.
std::mutex g_call_lock;
std::mutex g_load_lock;
Pdfium g_pdfium;
std::atomic<bool> g_loaded{false};

template <typename F>
bool resolve(void* library, const char* name, F& slot, std::string& missing) {
    slot = reinterpret_cast<F>(dlsym(library, name));
    if (slot == nullptr && missing.empty()) missing = name;
    return slot != nullptr;
}

// Resolves every function; names the first missing one.
bool resolve_all(void* lib, Pdfium& p, std::string& missing) {
    bool ok = resolve(lib, "FPDF_InitLibraryWithConfig", p.init_library_with_config, missing);
    ok &= resolve(lib, "FPDF_LoadCustomDocument", p.load_custom_document, missing);
    ok &= resolve(lib, "FPDF_LoadMemDocument64", p.load_mem_document64, missing);
    ok &= resolve(lib, "FPDF_GetLastError", p.get_last_error, missing);
    ok &= resolve(lib, "FPDF_CloseDocument", p.close_document, missing);
    ok &= resolve(lib, "FPDF_GetPageCount", p.get_page_count, missing);
    ok &= resolve(lib, "FPDF_LoadPage", p.load_page, missing);
    ok &= resolve(lib, "FPDF_ClosePage", p.close_page, missing);
    ok &= resolve(lib, "FPDFText_LoadPage", p.text_load_page, missing);
    ok &= resolve(lib, "FPDFText_ClosePage", p.text_close_page, missing);
    ok &= resolve(lib, "FPDFText_CountChars", p.text_count_chars, missing);
    ok &= resolve(lib, "FPDFText_GetText", p.text_get_text, missing);
    return ok;
}

SlivrError parse_error(std::string text) { return SlivrError::document_parse(std::move(text)); }

std::string system_error(int code) {
    char buffer[256];
    // The GNU strerror_r returns the message, which may or may not live in `buffer`.
    return strerror_r(code, buffer, sizeof buffer);
}

// The reader's reason for refusing a document, in words.
SlivrError load_error(unsigned long code, std::string_view what) {
    switch (code) {
    case kErrFile:
        return parse_error(std::string(what) + " could not be read");
    case kErrFormat:
        return parse_error(std::string(what) + " is not a PDF or is damaged");
    case kErrPassword:
        return parse_error(std::string(what) + " is encrypted and needs a password");
    case kErrSecurity:
        return parse_error(std::string(what) + " uses an unsupported security handler");
    case kErrPage:
        return parse_error(std::string(what) + " has a damaged page tree");
    default:
        return parse_error(std::string(what) + " could not be loaded by the PDF reader");
    }
}

class PdfiumPages final : public PdfPages {
public:
    // Takes over `fd` (or -1 for a document in memory).
    explicit PdfiumPages(int fd = -1) : fd_(fd) {}
    PdfiumPages(const PdfiumPages&) = delete;
    PdfiumPages& operator=(const PdfiumPages&) = delete;
    ~PdfiumPages() override {
        if (doc_ != nullptr) {
            std::lock_guard lock(g_call_lock);
            g_pdfium.close_document(doc_);
        }
        if (fd_ >= 0) ::close(fd_);
    }

    // Called with g_call_lock held.
    void adopt(FpdfDocument* doc) {
        doc_ = doc;
        const int count = g_pdfium.get_page_count(doc);
        page_count_ = count > 0 ? static_cast<std::uint32_t>(count) : 0;
    }

    std::uint32_t page_count() const override { return page_count_; }

    Result<std::string> page_text(std::uint32_t page_number) const override {
        if (page_number == 0 || page_number > page_count_)
            return fail(parse_error("page " + std::to_string(page_number) + " does not exist"));
        std::vector<unsigned short> units;
        {
            std::lock_guard lock(g_call_lock);
            FpdfPage* page = g_pdfium.load_page(doc_, static_cast<int>(page_number - 1));
            if (page == nullptr)
                return fail(parse_error("page " + std::to_string(page_number) + " could not be loaded"));
            FpdfTextPage* text = g_pdfium.text_load_page(page);
            int written = -1;
            if (text != nullptr) {
                const int count = g_pdfium.text_count_chars(text);
                if (count == 0) {
                    written = 1;  // just the terminator
                    units.assign(1, 0);
                } else if (count > 0) {
                    // The reader writes at most `count` units and a terminator for a full range.
                    units.assign(static_cast<std::size_t>(count) + 1, 0);
                    written = g_pdfium.text_get_text(text, 0, count, units.data());
                }
                g_pdfium.text_close_page(text);
            }
            g_pdfium.close_page(page);
            if (written <= 0 || static_cast<std::size_t>(written) > units.size())
                return fail(parse_error("the text of page " + std::to_string(page_number) + " could not be extracted"));
            units.resize(static_cast<std::size_t>(written) - 1);  // drop the terminator
        }
        // PDFium writes the units as little-endian byte pairs whatever the host order.
        return page_text_from_utf16le(
            {reinterpret_cast<const unsigned char*>(units.data()), units.size() * sizeof(unsigned short)});
    }

    // The file this document reads from, for PDFium's block reader.
    static int read_block(void* param, unsigned long position, unsigned char* buffer, unsigned long size) {
        const int fd = static_cast<PdfiumPages*>(param)->fd_;
        while (size > 0) {
            const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(position));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return 0;  // failure, or the file shrank under us
            buffer += n;
            position += static_cast<unsigned long>(n);
            size -= static_cast<unsigned long>(n);
        }
        return 1;
    }

private:
    int fd_;
    FpdfDocument* doc_ = nullptr;
    std::uint32_t page_count_ = 0;
};

Result<void> require_reader() {
    if (g_loaded.load(std::memory_order_acquire)) return {};
    return fail(parse_error("the PDF reader library (libpdfium.so from the pypdfium2 package) is not loaded"));
}

}  // namespace

Result<void> load_pdf_reader(std::span<const std::string> candidates) {
    std::lock_guard guard(g_load_lock);
    if (g_loaded.load(std::memory_order_acquire)) return {};
    if (candidates.empty())
        return fail(parse_error("the PDF reader library was not found: install the pypdfium2 package"));
    std::string reason;
    for (const std::string& path : candidates) {
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* why = ::dlerror();
            reason = why != nullptr ? why : path + ": cannot be loaded";
            continue;
        }
        Pdfium api{};
        std::string missing;
        if (!resolve_all(library, api, missing)) {
            reason = path + " lacks the function " + missing;
            ::dlclose(library);
            continue;
        }
        {
            std::lock_guard lock(g_call_lock);
            // Initialising is idempotent in PDFium, so sharing the library with pypdfium2 is fine.
            const FpdfLibraryConfig config{2, nullptr, nullptr, 0};
            api.init_library_with_config(&config);
            g_pdfium = api;
        }
        // The library stays loaded for the life of the process.
        g_loaded.store(true, std::memory_order_release);
        return {};
    }
    return fail(parse_error("the PDF reader library could not be loaded: " + reason));
}

bool pdf_reader_loaded() { return g_loaded.load(std::memory_order_acquire); }

Result<std::unique_ptr<PdfPages>> open_pdf_file(std::string_view path) {
    if (auto ready = require_reader(); !ready) return fail(ready.error());
    // Error texts travel as C strings, so a NUL must not reach them either.
    if (path.find('\0') != std::string_view::npos)
        return fail(parse_error("cannot open a path that contains a NUL character"));
    const std::string quoted = "'" + std::string(path) + "'";
    // Non-blocking, so that opening a FIFO by mistake cannot hang.
    const int fd = ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(parse_error("cannot open " + quoted + ": " + system_error(errno)));
    auto pages = std::make_unique<PdfiumPages>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return fail(parse_error("cannot read " + quoted + ": " + system_error(errno)));
    if (S_ISDIR(info.st_mode)) return fail(parse_error("cannot read " + quoted + ": " + system_error(EISDIR)));
    if (!S_ISREG(info.st_mode)) return fail(parse_error("cannot read " + quoted + ": not a regular file"));

    FpdfFileAccess access{static_cast<unsigned long>(info.st_size), &PdfiumPages::read_block, pages.get()};
    std::lock_guard lock(g_call_lock);
    FpdfDocument* doc = g_pdfium.load_custom_document(&access, nullptr);
    if (doc == nullptr) return fail(load_error(g_pdfium.get_last_error(), "file " + quoted));
    pages->adopt(doc);
    return pages;
}

Result<std::unique_ptr<PdfPages>> open_pdf_memory(std::string_view data) {
    if (auto ready = require_reader(); !ready) return fail(ready.error());
    auto pages = std::make_unique<PdfiumPages>();
    std::lock_guard lock(g_call_lock);
    FpdfDocument* doc = g_pdfium.load_mem_document64(data.data(), data.size(), nullptr);
    if (doc == nullptr) return fail(load_error(g_pdfium.get_last_error(), "the document"));
    pages->adopt(doc);
    return pages;
}

std::string page_text_from_utf16le(std::span<const unsigned char> bytes) {
    constexpr char32_t kReplacement = 0xFFFD;
    constexpr char32_t kHyphenMarker = 0xFFFE;
    const std::size_t n = bytes.size() / 2;
    auto unit = [&](std::size_t i) { return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); };
    std::string out;
    out.reserve(n + n / 4);
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t u = unit(i);
        if (u < 0x80) {
            if (u == '\r') {
                out.push_back('\n');
                if (i + 1 < n && unit(i + 1) == '\n') ++i;
            } else {
                out.push_back(static_cast<char>(u));
            }
        } else if (u >= 0xD800 && u <= 0xDBFF) {
            const char16_t low = i + 1 < n ? unit(i + 1) : 0;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                utf8::append(0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(low) - 0xDC00), out);
                ++i;
            } else {
                utf8::append(kReplacement, out);
            }
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            utf8::append(kReplacement, out);
        } else if (u != kHyphenMarker) {
            utf8::append(u, out);
        }
    }
    return out;
}

}  // namespace slivr
