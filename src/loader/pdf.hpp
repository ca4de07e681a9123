// PDFLoader: a PDF file, by path or as bytes, into text, one document, or one document per page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "error/error.hpp"
#include "loader/pdf_reader.hpp"
#include "structures/document.hpp"

namespace slivr {

// Stateless; every operation opens, reads and closes the PDF. Reader failures become
// DocumentParse errors; a page whose text cannot be extracted never fails an operation.
class PDFLoader {
public:
    // The whole text of the PDF.
    Result<std::string> load_from_file(std::string_view path) const;
    Result<std::string> load_from_bytes(std::string_view bytes) const;

    // The whole text as one document with "source", "file_name" (when the path has one) and
    // "total_pages"; from bytes, "total_pages" only.
    Result<Document> load_document(std::string_view path) const;
    Result<Document> load_document_from_bytes(std::string_view bytes) const;

    // One document per page with "page_number" and "total_pages", plus "source" and "file_name"
    // (when the path has one) for the path form.
    Result<Documents> load_pages_from_file(std::string_view path) const;
    Result<Documents> load_pages_from_bytes(std::string_view bytes) const;
};

// The pages' texts in page order, each separated from the text before it by one "\n" unless that
// text is empty or already ends in "\n". Pages whose text cannot be extracted are left out.
std::string extract_all_text(const PdfPages& pdf);

// One document per page, in page order; a page whose text cannot be extracted gives empty content.
// `source` and `file_name` are written when given.
Documents extract_pages(const PdfPages& pdf, std::optional<std::string_view> source,
                        std::optional<std::string_view> file_name);

// The last component of a "/"-separated path, ignoring empty and "." components after the first;
// none when that component is "..", or only a root or "." remains.
std::optional<std::string_view> file_name_of(std::string_view path);

}  // namespace slivr
