#include "loader/pdf.hpp"

namespace slivr {
namespace {

void add_path_metadata(Metadata& metadata, std::string_view path) {
    metadata.set("source", std::string(path));
    if (auto name = file_name_of(path)) metadata.set("file_name", std::string(*name));
}

Result<Document> whole_document(Result<std::unique_ptr<PdfPages>> opened, std::optional<std::string_view> path) {
    if (!opened) return fail(opened.error());
    const PdfPages& pdf = **opened;
    Document doc(extract_all_text(pdf));
    doc.metadata.set("total_pages", pdf.page_count());
    if (path) add_path_metadata(doc.metadata, *path);
    return doc;
}

}  // namespace

std::string extract_all_text(const PdfPages& pdf) {
    std::string text;
    const std::uint32_t count = pdf.page_count();
    for (std::uint32_t number = 1; number <= count; ++number) {
        auto page = pdf.page_text(number);
        if (!page) continue;
        if (!text.empty() && text.back() != '\n') text.push_back('\n');
        text += *page;
    }
    return text;
}

Documents extract_pages(const PdfPages& pdf, std::optional<std::string_view> source,
                        std::optional<std::string_view> file_name) {
    const std::uint32_t count = pdf.page_count();
    Documents docs;
    docs.reserve(count);
    for (std::uint32_t number = 1; number <= count; ++number) {
        auto page = pdf.page_text(number);
        Document doc(page ? std::move(*page) : std::string());
        doc.metadata.reserve(4);
        doc.metadata.insert_new("page_number", number);
        doc.metadata.insert_new("total_pages", count);
        if (source) doc.metadata.insert_new("source", std::string(*source));
        if (file_name) doc.metadata.insert_new("file_name", std::string(*file_name));
        docs.push_back(std::move(doc));
    }
    return docs;
}

std::optional<std::string_view> file_name_of(std::string_view path) {
    std::optional<std::string_view> last;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view component = path.substr(start, end - start);
        // A leading "." is a component of its own (the current directory); later ones are no-ops.
        if (!component.empty() && (component != "." || start == 0)) last = component;
        start = end + 1;
    }
    if (!last || *last == "." || *last == "..") return std::nullopt;
    return last;
}

Result<std::string> PDFLoader::load_from_file(std::string_view path) const {
    auto opened = open_pdf_file(path);
    if (!opened) return fail(opened.error());
    return extract_all_text(**opened);
}

Result<std::string> PDFLoader::load_from_bytes(std::string_view bytes) const {
    auto opened = open_pdf_memory(bytes);
    if (!opened) return fail(opened.error());
    return extract_all_text(**opened);
}

Result<Document> PDFLoader::load_document(std::string_view path) const {
    return whole_document(open_pdf_file(path), path);
}

Result<Document> PDFLoader::load_document_from_bytes(std::string_view bytes) const {
    return whole_document(open_pdf_memory(bytes), std::nullopt);
}

Result<Documents> PDFLoader::load_pages_from_file(std::string_view path) const {
    auto opened = open_pdf_file(path);
    if (!opened) return fail(opened.error());
    return extract_pages(**opened, path, file_name_of(path));
}

Result<Documents> PDFLoader::load_pages_from_bytes(std::string_view bytes) const {
    auto opened = open_pdf_memory(bytes);
    if (!opened) return fail(opened.error());
    return extract_pages(**opened, std::nullopt, std::nullopt);
}

}  // namespace slivr
