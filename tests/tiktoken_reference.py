"""The published encodings as the reference tokeniser (tiktoken) defines them, built offline from the
vocabulary files shipped in data/vocab, and a generator of texts that stress pre-tokenisation.

Shared by tests/test_token.py, scripts/token_parity.py and bench/sections/token.py.
"""
from __future__ import annotations

import hashlib
import os
import random
from pathlib import Path

VOCAB_DIR = Path(__file__).resolve().parent.parent / "data" / "vocab"
ENCODINGS = ("cl100k_base", "o200k_base", "p50k_base", "r50k_base")

_R50K = r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}++| ?\p{N}++| ?[^\s\p{L}\p{N}]++|\s++$|\s+(?!\S)|\s"""
_CL100K = (r"""'(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|"""
           r"""\s++$|\s*[\r\n]|\s+(?!\S)|\s""")
_O200K = "|".join([
    r"""[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+(?i:'s|'t|'re|'ve|'m|'ll|'d)?""",
    r"""[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*(?i:'s|'t|'re|'ve|'m|'ll|'d)?""",
    r"""\p{N}{1,3}""",
    r""" ?[^\s\p{L}\p{N}]+[\r\n/]*""",
    r"""\s*[\r\n]+""",
    r"""\s+(?!\S)""",
    r"""\s+""",
])

PATTERNS = {"cl100k_base": _CL100K, "o200k_base": _O200K, "p50k_base": _R50K, "r50k_base": _R50K}
SPECIAL_TOKENS = {
    "cl100k_base": {"<|endoftext|>": 100257, "<|fim_prefix|>": 100258, "<|fim_middle|>": 100259,
                    "<|fim_suffix|>": 100260, "<|endofprompt|>": 100276},
    "o200k_base": {"<|endoftext|>": 199999, "<|endofprompt|>": 200018},
    "p50k_base": {"<|endoftext|>": 50256},
    "r50k_base": {"<|endoftext|>": 50256},
}
# Where tiktoken's own loader would fetch each file; its cache is keyed by this address.
_BLOB = "https://openaipublic.blob.core.windows.net/encodings/{}.tiktoken"


def encoding(name: str):
    """A tiktoken Encoding built directly from the shipped vocabulary file (no network)."""
    import tiktoken
    from tiktoken.load import load_tiktoken_bpe

    ranks = load_tiktoken_bpe(str(VOCAB_DIR / f"{name}.tiktoken"))
    return tiktoken.Encoding(name=f"{name}_reference", pat_str=PATTERNS[name], mergeable_ranks=ranks,
                             special_tokens=SPECIAL_TOKENS[name])


def fill_tiktoken_cache(cache_dir: str | os.PathLike) -> None:
    """Fills a TIKTOKEN_CACHE_DIR with the shipped files, under the names tiktoken's loader looks
    for, so that libraries calling tiktoken.get_encoding work offline."""
    cache = Path(cache_dir)
    cache.mkdir(parents=True, exist_ok=True)
    for name in ENCODINGS:
        key = hashlib.sha1(_BLOB.format(name).encode()).hexdigest()
        target = cache / key
        data = (VOCAB_DIR / f"{name}.tiktoken").read_bytes()
        if not target.exists() or target.read_bytes() != data:
            target.write_bytes(data)


# --- generated texts ---------------------------------------------------------------------------

WHITE_SPACE = ("\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009"
               "\u200a\u2028\u2029\u202f\u205f\u3000")
_RANGES = {
    "marks": [(0x300, 0x36F), (0x483, 0x489), (0x591, 0x5BD), (0x610, 0x61A), (0x900, 0x903), (0x93A, 0x94F),
              (0x1AB0, 0x1ACE), (0x1DC0, 0x1DFF), (0x20D0, 0x20F0), (0xFE20, 0xFE2F), (0x1D165, 0x1D169)],
    "cjk": [(0x4E00, 0x9FFF), (0x3400, 0x4DBF), (0x20000, 0x2A6DF), (0x3040, 0x30FF), (0xAC00, 0xD7A3),
            (0xFF01, 0xFF5E), (0x3000, 0x303F), (0x2EBF0, 0x2EE5D)],
    "emoji": [(0x1F300, 0x1F5FF), (0x1F600, 0x1F64F), (0x1F680, 0x1F6FF), (0x1F900, 0x1F9FF), (0x1FA70, 0x1FAFF),
              (0x2600, 0x27BF), (0x1F1E6, 0x1F1FF)],
    "letters": [(0x41, 0x5A), (0x61, 0x7A), (0xC0, 0x24F), (0x370, 0x3FF), (0x400, 0x4FF), (0x531, 0x587),
                (0x10A0, 0x10FF), (0x1C90, 0x1CBF), (0x1E00, 0x1EFF), (0x1F00, 0x1FFF), (0x2C00, 0x2C5F),
                (0x1C80, 0x1C8A), (0x10D40, 0x10D8F), (0x16E40, 0x16E7F), (0x1E900, 0x1E94B)],
    "modifiers": [(0x2B0, 0x2FF), (0x1C4, 0x1CC), (0x1F1, 0x1F3), (0x1F88, 0x1FAF), (0xAA, 0xAA), (0xBA, 0xBA),
                  (0x3005, 0x3006), (0xA770, 0xA770), (0x1D2C, 0x1D6A)],
    "digits": [(0x30, 0x39), (0x660, 0x669), (0x966, 0x96F), (0xFF10, 0xFF19), (0xB2, 0xB3), (0xB9, 0xB9),
               (0xBC, 0xBE), (0x2160, 0x2188), (0x2460, 0x249B), (0x1D7CE, 0x1D7FF), (0x10D30, 0x10D39)],
    "punct": [(0x21, 0x2F), (0x3A, 0x40), (0x5B, 0x60), (0x7B, 0x7E), (0xA1, 0xBF), (0x2010, 0x2027),
              (0x2030, 0x205E), (0x2190, 0x21FF), (0xE000, 0xE010), (0x0, 0x8), (0xE, 0x1F), (0x7F, 0x9F)],
}
_CONTRACTIONS = ["s", "t", "d", "m", "ll", "ve", "re", "\u017f", "S", "T", "D", "M", "LL", "Ll", "lL", "VE", "Ve",
                 "vE", "RE", "Re", "rE", "x", "l", "v", "r", "\u017fs"]
_WORDS = ["the", "The", "HTTPServer", "camelCase", "don", "DON", "naïve", "cafe\u0301", "Straße", "ǅungla",
          "ΣΊΣΥΦΟΣ", "μήλο", "Ⅻ", "x²", "<|endoftext|>", "<|fim_prefix|>", "<|endofprompt|>", "https://a.b/c//d",
          "1234567", "3.14159", "0x1F", "i18n", "\ufeff", "\u200d", "\u200b", "\ufe0f", "👨‍👩‍👧‍👦", "🏳️‍🌈",
          "👍🏽", "🇫🇷", "e\u0301\u0302\u0303", "\u0301abc", "ʰello", "ªb", "AbCdEf", "ÀÉÎ", "日本語の文章",
          "中文，标点。", "한국어", "עִבְרִית", "العربية", "हिन्दी", "ไทย"]


def _pick(rng: random.Random, kind: str) -> str:
    lo, hi = rng.choice(_RANGES[kind])
    return chr(rng.randint(lo, hi))


def _random_code_point(rng: random.Random) -> str:
    while True:
        c = rng.randrange(0x110000) if rng.random() < 0.5 else rng.randrange(0x30000)
        if not 0xD800 <= c <= 0xDFFF:
            return chr(c)


def _fragment(rng: random.Random) -> str:
    r = rng.random()
    if r < 0.12:
        return "".join(rng.choice(WHITE_SPACE) for _ in range(rng.randint(1, 6)))
    if r < 0.18:
        return rng.choice(["\r\n", "\n", "\r", "\n\n", "\r\n\r\n", " \r\n", "\t\n ", "\n "])
    if r < 0.28:
        return "'" + rng.choice(_CONTRACTIONS) + (rng.choice(["", " ", "x", "s", "'"]) if rng.random() < 0.5 else "")
    if r < 0.36:
        return "".join(_pick(rng, "digits") if rng.random() < 0.3 else rng.choice("0123456789")
                       for _ in range(rng.randint(1, 12)))
    if r < 0.50:
        return rng.choice([" ", "", "", "\t", "'", "(", "\u00a0"]) + rng.choice(_WORDS)
    kind = rng.choice(["marks", "cjk", "emoji", "letters", "letters", "modifiers", "punct", "any"])
    length = rng.randint(1, 8)
    if kind == "any":
        return "".join(_random_code_point(rng) for _ in range(length))
    return "".join(_pick(rng, kind) for _ in range(length))


def stress_texts(count: int, seed: int = 1, max_fragments: int = 60) -> list[str]:
    """`count` random texts built from fragments chosen to reach every branch of the patterns:
    every kind of white space, line breaks, contractions in all cases, digit runs of several
    scripts, combining marks, CJK, emoji, case changes, symbols and random code points."""
    rng = random.Random(seed)
    return ["".join(_fragment(rng) for _ in range(rng.randint(1, max_fragments))) for _ in range(count)]


# One character of each class the patterns tell apart, plus the letters of the contractions.
EDGE_ALPHABET = ("a", "A", "\u01c5", "\u02b0", "\u00aa", "\u0301", "1", "\u00b2", " ", "\n", "\r", "\t", "\u00a0",
                 "'", "s", "S", "\u017f", "l", "e", "/", "!")


def short_strings(length: int = 4) -> list[str]:
    """Every string of up to `length` characters over EDGE_ALPHABET: each text end, each order of
    classes and each backtracking path of the patterns on short input."""
    out = [""]
    level = [""]
    for _ in range(length):
        level = [s + c for s in level for c in EDGE_ALPHABET]
        out += level
    return out


def every_code_point_texts(chunk: int = 4096) -> list[str]:
    """Every Unicode scalar value, each in contexts that tell its class apart (after a letter, a
    digit, a blank, an apostrophe, before a lower-case letter), in texts of `chunk` code points."""
    out = []
    points = [c for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF]
    for i in range(0, len(points), chunk):
        parts = []
        for c in points[i:i + chunk]:
            ch = chr(c)
            parts.append(f"a{ch}b 1{ch}2 {ch}{ch}x '{ch}s {ch}'s A{ch}\n")
        out.append("".join(parts))
    return out
