// The PDF reader: PDFium, loaded at run time from the shared library that the pypdfium2 package
// ships. Nothing here includes PDFium headers; the few functions used are declared in the .cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "error/error.hpp"

namespace slivr {

// An open PDF as the loader sees it: a number of pages and the text of each.
class PdfPages {
public:
    virtual ~PdfPages() = default;
    virtual std::uint32_t page_count() const = 0;
    // The text of one page, numbered from 1; lines end in "\n".
    virtual Result<std::string> page_text(std::uint32_t page_number) const = 0;
};

// Loads the reader library from the first of `candidates` (paths of libpdfium.so) that loads and
// initialises it. Once one has loaded, later calls do nothing and succeed. Thread-safe.
Result<void> load_pdf_reader(std::span<const std::string> candidates);
bool pdf_reader_loaded();

// Opens a PDF by path or from a buffer; every failure is a DocumentParse error whose text says
// what went wrong. `data` must outlive the returned object. Calls into the reader are serialised
// process-wide, so open documents may be used from several threads.
Result<std::unique_ptr<PdfPages>> open_pdf_file(std::string_view path);
Result<std::unique_ptr<PdfPages>> open_pdf_memory(std::string_view data);

// The reader's UTF-16LE page text as UTF-8: "\r\n" and lone "\r" become "\n", the reader's
// end-of-line hyphenation marker U+FFFE is dropped (the word is joined), and unpaired surrogates
// become U+FFFD.
std::string page_text_from_utf16le(std::span<const unsigned char> bytes);

}  // namespace slivr
