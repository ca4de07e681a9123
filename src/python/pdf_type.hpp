// The Python class PDFLoader and the module functions load_pdf and load_pdf_pages.
#pragma once

#include "python/ref.hpp"

namespace slivr::py {

// Creates the PDFLoader class.
PyObject* create_pdf_loader_type();

// load_pdf and load_pdf_pages, terminated by a null entry.
extern PyMethodDef kPdfFunctions[];

}  // namespace slivr::py
