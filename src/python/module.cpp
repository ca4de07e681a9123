// Module initialisation: the classes and functions are registered in a fixed order.
#include "python/classes.hpp"
#include "python/document_type.hpp"
#include "python/pdf_type.hpp"

namespace slivr::py {
namespace {

PyModuleDef kModule{
    PyModuleDef_HEAD_INIT,
    "slivr",
    "The `slivr` Python native extension module",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The chunker classes in their registration order, after Document.
const ChunkerClass* const kChunkerClasses[] = {
    &kRecursiveChunkerClass,
    &kTokenChunkerClass,
    &kSentenceChunkerClass,
    &kParagraphChunkerClass,
    &kSemanticChunkerClass,
    &kPropositionChunkerClass,
    &kContextualChunkerClass,
    &kQueryAwareChunkerClass,
    &kAgenticChunkerClass,
    &kHierarchicalChunkerClass,
    &kMarkdownChunkerClass,
    &kCodeChunkerClass,
    &kJsonChunkerClass,
    &kHtmlChunkerClass,
    &kCharacterChunkerClass,
    &kWordChunkerClass,
};

bool add(PyObject* module, const char* name, PyObject* object) {
    if (object == nullptr) return false;
    return PyModule_AddObject(module, name, object) == 0 || (Py_DECREF(object), false);
}

}  // namespace
}  // namespace slivr::py

PyMODINIT_FUNC PyInit_slivr() {
    using namespace slivr::py;
    Ref module(PyModule_Create(&kModule));
    if (!module) return nullptr;
    if (!add(module.get(), "Document", create_document_type(module.get()))) return nullptr;
    for (const ChunkerClass* cls : kChunkerClasses) {
        if (!add(module.get(), cls->name, create_chunker_type(*cls))) return nullptr;
    }
    if (!add(module.get(), "PDFLoader", create_pdf_loader_type())) return nullptr;
    if (PyModule_AddFunctions(module.get(), kPdfFunctions) < 0) return nullptr;
    return module.release();
}
