#include "chunker/token.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"chunk_size", "overlap", "encoding"};
constexpr const char* kTextParam[] = {"text"};

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto chunk_size = args[0] ? to_u64("chunk_size", args[0]) : 512;
    if (!chunk_size) return nullptr;
    const auto overlap = args[1] ? to_u64("overlap", args[1]) : 50;
    if (!overlap) return nullptr;
    const auto name = args[2] ? to_str("encoding", args[2]) : std::string_view("cl100k_base");
    if (!name) return nullptr;
    const auto encoding = token_encoding_from_name(*name);
    if (!encoding) {
        PyErr_SetString(PyExc_ValueError, encoding.error().c_str());
        return nullptr;
    }
    auto chunker = TokenChunker::with_encoding(*chunk_size, *overlap, *encoding);
    if (!chunker) {
        raise_error(chunker.error());
        return nullptr;
    }
    return std::make_unique<TokenChunker>(std::move(*chunker));
}

PyObject* count_tokens(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* arg = nullptr;
    if (!bind({"count_tokens", kTextParam, 1}, args, nargs, kwnames, &arg)) return nullptr;
    const auto text = to_str("text", arg);
    if (!text) return nullptr;
    const auto& chunker = static_cast<const TokenChunker&>(native(self));
    return PyLong_FromSize_t(chunker.count_tokens(*text));
}

PyMethodDef kMethods[] = {
    {"count_tokens", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<count_tokens>)),
     METH_FASTCALL | METH_KEYWORDS, "count_tokens($self, text)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const TokenChunker&>(chunker);
    return reduce_args(c.chunk_size, c.overlap, tokenizer::canonical_name(c.encoding));
}

}  // namespace

const ChunkerClass kTokenChunkerClass{"TokenChunker",
                                      "(chunk_size=512, overlap=50, encoding=\"cl100k_base\")",
                                      {"TokenChunker", kParams, 0},
                                      build,
                                      kMethods,
                                      arguments};

}  // namespace slivr::py
