#include <cmath>
#include <limits>

#include "chunker/semantic.hpp"
#include "python/classes.hpp"

namespace slivr::py {
namespace {

constexpr const char* kParams[] = {"percentile", "min_size", "max_size"};

// The 32-bit float nearest to `d`; values beyond the 32-bit range become infinities (a plain
// conversion of such a value is undefined).
float narrow(double d) {
    // Halfway between the largest 32-bit float and the next power of two: from here on, rounding
    // to nearest gives infinity.
    constexpr double kOverflow = 0x1.ffffffp+127;
    if (d >= kOverflow) return std::numeric_limits<float>::infinity();
    if (d <= -kOverflow) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

std::unique_ptr<Chunker> build(PyObject* const* args) {
    const auto percentile = args[0] ? to_f64("percentile", args[0]) : 90.0;
    if (!percentile) return nullptr;
    const auto min_size = args[1] ? to_u64("min_size", args[1]) : 100;
    if (!min_size) return nullptr;
    const auto max_size = args[2] ? to_u64("max_size", args[2]) : 2000;
    if (!max_size) return nullptr;
    return std::make_unique<SemanticChunker>(Threshold::percentile(narrow(*percentile)),
                                             std::make_shared<const FastLexicalEmbedder>(256), *min_size, *max_size);
}

// The 32-bit percentile widens exactly to a double, which narrow() turns back into the same float.
PyObject* arguments(const Chunker& chunker) {
    const auto& c = static_cast<const SemanticChunker&>(chunker);
    return reduce_args(static_cast<double>(c.threshold.parameter), c.min_size, c.max_size);
}

}  // namespace

const ChunkerClass kSemanticChunkerClass{"SemanticChunker",
                                         "(percentile=90.0, min_size=100, max_size=2000)",
                                         {"SemanticChunker", kParams, 0},
                                         build,
                                         nullptr,
                                         arguments};

}  // namespace slivr::py
