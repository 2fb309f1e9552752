"""Cross-checks libmime (through its C header, by ctypes) and mimetool against peers not
written here: Python's base64, binascii, quopri and email.header, sharutils' uuencode and
coreutils' base64. Where our rules differ from a peer's, only what both must agree on is
compared; each case says what differs.

usage: peer_check.py LIBMIME MIMETOOL
"""
import base64
import binascii
import ctypes
import email.header
import os
import quopri
import random
import re
import subprocess
import sys
import tempfile
import unittest

LIB, TOOL = sys.argv[1], sys.argv[2]
del sys.argv[1:3]

VT_BSTR, VT_BYREF, DISPATCH_METHOD = 8, 0x4000, 1


class Variant(ctypes.Structure):
    class _Value(ctypes.Union):
        _fields_ = [("i2", ctypes.c_int16), ("bstr", ctypes.c_void_p), ("pbstr", ctypes.c_void_p),
                    ("pad", ctypes.c_uint64)]
    _fields_ = [("type", ctypes.c_uint16), ("reserved", ctypes.c_uint16 * 3), ("value", _Value)]


class ExcepInfo(ctypes.Structure):
    _fields_ = [("code", ctypes.c_int32), ("description", ctypes.c_char_p)]


mime = ctypes.CDLL(LIB)
mime.MimeStrAlloc.restype = ctypes.c_void_p
mime.MimeStrAlloc.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
mime.MimeStrLen.restype = ctypes.c_size_t
mime.MimeStrLen.argtypes = [ctypes.c_void_p]
mime.MimeStrFree.argtypes = [ctypes.c_void_p]
mime.MimeCreate.restype = ctypes.c_void_p
mime.MimeGetIDOfName.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32)]
mime.MimeInvoke.argtypes = [ctypes.c_void_p, ctypes.c_int32, ctypes.c_uint16, ctypes.POINTER(Variant),
                            ctypes.c_uint32, ctypes.POINTER(Variant), ctypes.POINTER(ExcepInfo)]
mime.MimeVariantClear.argtypes = [ctypes.POINTER(Variant)]
control = mime.MimeCreate()


class MimeError(Exception):
    def __init__(self, code, text):
        super().__init__(code, text)
        self.code = code


def call(member, *args):
    """Calls a member by name with by-reference byte strings; returns bytes."""
    dispid = ctypes.c_int32()
    assert mime.MimeGetIDOfName(control, member.encode(), ctypes.byref(dispid)) == 0, member
    strings = [ctypes.c_void_p(mime.MimeStrAlloc(a, len(a))) for a in args]
    variants = (Variant * max(1, len(args)))()
    for v, s in zip(variants, strings):
        v.type = VT_BSTR | VT_BYREF
        v.value.pbstr = ctypes.cast(ctypes.pointer(s), ctypes.c_void_p)
    result, excep = Variant(), ExcepInfo()
    r = mime.MimeInvoke(control, dispid.value, DISPATCH_METHOD, variants, len(args), ctypes.byref(result),
                        ctypes.byref(excep))
    for s in strings:
        mime.MimeStrFree(s)
    if r != 0:
        raise MimeError(excep.code, excep.description.decode())
    out = ctypes.string_at(result.value.bstr, mime.MimeStrLen(result.value.bstr))
    mime.MimeVariantClear(ctypes.byref(result))
    return out


rng = random.Random(20240501)
ALL_BYTES = bytes(range(256))


def generated_inputs():
    """All lengths 0..300 (random bytes), every byte value, and a few random megabytes."""
    for n in range(301):
        yield bytes(rng.getrandbits(8) for _ in range(n))
    yield ALL_BYTES * 3
    yield rng.randbytes(3 << 20)


def jis_run(count):
    pairs = bytearray()
    for _ in range(count):
        pairs += bytes([rng.randrange(0x30, 0x4F), rng.randrange(0x21, 0x7F)])  # kanji rows all assigned
    return b"\x1b$B" + bytes(pairs) + b"\x1b(B"


class Base64Peers(unittest.TestCase):
    def test_encode_matches_python_and_coreutils(self):
        for data in generated_inputs():
            self.assertEqual(call("Base64Encode", data), base64.b64encode(data), len(data))
        big = rng.randbytes(1 << 20)
        gnu = subprocess.run(["base64", "-w0"], input=big, capture_output=True, check=True).stdout
        self.assertEqual(call("Base64Encode", big), gnu)

    def test_decode_matches_on_text_both_accept(self):
        # Python stops at the first padded group and rejects a short final group; we decode
        # on past padding and ignore the short group. Both agree on whole groups padded only
        # at the end, with any foreign bytes sprinkled in.
        for data in generated_inputs():
            text = base64.b64encode(data)
            self.assertEqual(call("Base64Decode", text), data)
            noisy = bytearray()
            for i, c in enumerate(text):
                if i % 76 == 0 and i:
                    noisy += b"\r\n"
                if rng.random() < 0.1:
                    noisy.append(rng.choice(b" \t!#$%&*-.:;<>?@[]^_`{|}~\x7f\x80\xff\x01"))
                noisy.append(c)
            self.assertEqual(call("Base64Decode", bytes(noisy)), binascii.a2b_base64(bytes(noisy)), len(data))

    def test_decode_goes_on_after_padding_unlike_python(self):
        self.assertEqual(binascii.a2b_base64(b"YQ==YWI="), b"a")
        self.assertEqual(call("Base64Decode", b"YQ==YWI="), b"aab")


class QuotedPrintablePeers(unittest.TestCase):
    def test_our_encoding_decodes_back_with_python(self):
        # Our encoder keeps CR, LF and inner blanks literal and breaks after 75 characters
        # counted across input line ends; Python breaks per line at 76 and escapes blanks at
        # every line end. Python must still read our text back to the input.
        for data in generated_inputs():
            data = data.replace(b"\0", b"\1")
            if len(data) > 100000:
                data = data[:100000]
            encoded = call("QuotedPrintableEncode", data)
            self.assertEqual(quopri.decodestring(encoded), data, len(data))
            for line in encoded.split(b"\r\n"):
                self.assertLessEqual(len(line), 78)

    def test_python_encoding_decodes_with_ours(self):
        # Python's soft breaks are "=" LF, which we do not take as breaks; lines short
        # enough to need none are read alike.
        for n in range(0, 25):
            for _ in range(40):
                data = bytes(rng.getrandbits(8) for _ in range(n))
                encoded = binascii.b2a_qp(data, quotetabs=True, istext=False)
                self.assertNotIn(b"=\n", encoded)
                self.assertEqual(call("QuotedPrintableDecode", encoded), data)


class HeaderPeers(unittest.TestCase):
    def test_encoded_words_read_by_email_header(self):
        # Python joins adjacent words and drops the fold between them; we keep the fold and
        # close/reopen the run around it. As text (ISO-2022-JP decoded) both are the same.
        for count in list(range(0, 60)) + [200]:
            run = jis_run(count)
            header = b"Subject: " + run
            encoded = call("MimeHeaderEncode", header)
            parts = email.header.decode_header(encoded.decode("ascii"))
            text = "".join(p.decode(cs or "ascii") if isinstance(p, bytes) else p for p, cs in parts)
            self.assertEqual(text.replace(" ", ""), header.decode("iso-2022-jp").replace(" ", ""))

    def test_decoding_words_made_by_python(self):
        # Python writes the letter in lower case ("?b?", "?q?"), as many mail programs do.
        for count in range(1, 30):
            run = jis_run(count)
            word = email.header.Header(run.decode("iso-2022-jp"), "iso-2022-jp").encode()
            self.assertIn("?b?", word)
            decoded = call("MimeHeaderDecode", word.encode("ascii"))
            pieces = b"".join(p for p, _ in email.header.decode_header(word))
            self.assertEqual(decoded.replace(b"\r\n ", b"").replace(b"\n ", b""), pieces)
            self.assertEqual(pieces.decode("iso-2022-jp"), run.decode("iso-2022-jp"))

    def test_header_corpus_both_ways(self):
        # Each header decodes to Python's bytes. Python drops the blanks between adjacent
        # words and at the start of folded lines, which we keep; so whole headers are compared
        # without blanks, and every encoded word on its own exactly (that catches "_").
        for header in header_corpus():
            theirs = python_decode(header)
            ours = call("MimeHeaderDecode", header.encode("ascii"))
            self.assertEqual(squeeze(ours), squeeze(theirs), header)
            for word in ENCODED_WORD.findall(header):
                self.assertEqual(call("MimeHeaderDecode", word.encode("ascii")), python_decode(word), word)
        # The other way: our words, with Python reading them, give the same text.
        for subject in JAPANESE_SUBJECTS:
            jis = ("Subject: " + subject).encode("iso-2022-jp")
            encoded = call("MimeHeaderEncode", jis).decode("ascii")
            parts = email.header.decode_header(encoded)
            text = "".join(p.decode(cs or "ascii") for p, cs in parts)
            self.assertEqual(squeeze(text), squeeze("Subject: " + subject), encoded)


JAPANESE_SUBJECTS = [
    "会議の議事録",
    "Re: 来週の打ち合わせについて（資料添付）",
    "【重要】サーバー停止のお知らせ 12/24 22:00〜翌6:00",
    "ポンプ３号機 異常停止 ― 点検のお願い。温度 85℃ を超えました" * 2,
    "カタカナ 混じり ASCII mixed テキスト",
]
ENCODED_WORD = re.compile(r"=\?[^?]*\?[bBqQ]\?.*?\?=")


def python_decode(header):
    """The bytes Python's decoder gives, words and plain text in order."""
    return b"".join(p if isinstance(p, bytes) else p.encode("ascii") for p, _ in email.header.decode_header(header))


def squeeze(text):
    if isinstance(text, str):
        return "".join(text.split())
    return bytes(c for c in text if c not in b" \t\r\n")


def header_corpus():
    """Headers as mail programs write them: Python's encoder with several charsets and
    folds, and hand-written words with either letter case, next to plain text."""
    for subject in JAPANESE_SUBJECTS:
        for charset in ("iso-2022-jp", "utf-8", "shift_jis", "euc-jp"):
            for ws in (" ", "\t"):
                # Python folds with the line end given and the continuation blank.
                yield email.header.Header(subject, charset, continuation_ws=ws).encode(linesep="\r\n")
        yield email.header.Header(subject, "utf-8").encode(linesep="\n")
    latin = "Café crème, brûlée et façade — à Noël; déjà vu_underscores=equals?marks " * 2
    for charset in ("iso-8859-1", "utf-8", "iso-8859-15"):
        yield email.header.Header(latin.replace("—", "-"), charset).encode(linesep="\r\n")
    mixed = email.header.Header()
    mixed.append("Re: [ticket 42]", "us-ascii")
    mixed.append("会議室の予約", "iso-2022-jp")
    mixed.append("and", "us-ascii")
    mixed.append("Grüße", "iso-8859-1")
    yield mixed.encode(linesep="\r\n")
    jis = base64.b64encode("日本語".encode("iso-2022-jp")).decode()
    for letter in "Bb":
        yield f"Subject: =?ISO-2022-JP?{letter}?{jis}?= tail"
        yield f"Subject: =?iso-2022-jp?{letter}?{jis}?=\r\n\t=?ISO-2022-JP?{letter}?{jis}?=\r\n =?x?{letter}?YWJj?="
    for letter in "Qq":
        yield f"From: =?ISO-8859-1?{letter}?Andr=E9_M=FCller?= <a@example.org>"
        yield f"Subject: =?utf-8?{letter}?=E6=97=A5=E6=9C=AC_x?=  =?UTF-8?{letter}?a=5Fb?= end"
    yield "Subject: plain text only, no words at all"


class UuPeers(unittest.TestCase):
    def test_lines_match_binascii_and_sharutils(self):
        data = rng.randbytes(45 * 200 + 17)
        with tempfile.NamedTemporaryFile() as f:
            f.write(data)
            f.flush()
            with open(f.name, "rb") as source:
                theirs = subprocess.run(["uuencode", "report.bin"], stdin=source, capture_output=True,
                                        check=True).stdout.split(b"\n")
        # sharutils ends lines with LF and its closing lines are "`" and "end"; ours are
        # the same lines with CR LF, and the begin line's mode is the caller's.
        ours = [call("UuEncodeBegin", b"C:\\tmp\\report.bin", b"644")]
        for k in range(0, len(data), 45):
            piece = data[k:k + 45]
            line = call("UuEncodeByte", piece) + call("UuEncodeLine", piece)
            self.assertEqual(line + b"\n", binascii.b2a_uu(piece, backtick=True))
            self.assertEqual(call("UuDecodeLine", line), binascii.a2b_uu(line))
            self.assertEqual(call("UuDecodeLine", theirs[1 + k // 45]), piece)
            ours.append(line)
        ours += call("UuEncodeEnd").split(b"\r\n")[:2]
        self.assertEqual(ours, theirs[:len(ours)])
        self.assertEqual(call("UuDecodeBegin", theirs[0] + b"\n"), b"report.bin")


class Mimetool(unittest.TestCase):
    def run_tool(self, *args, data=b""):
        return subprocess.run([TOOL, *args], input=data, capture_output=True)

    def test_members_and_errors(self):
        data = rng.randbytes(100000)
        self.assertEqual(self.run_tool("Base64Encode", data=data).stdout, base64.b64encode(data))
        self.assertEqual(self.run_tool("base64decode", data=base64.encodebytes(data)).stdout, data)
        self.assertEqual(self.run_tool("UuEncodeBegin", "C:\\x\\y.txt", "600").stdout, b"begin 600 y.txt")
        self.assertEqual(self.run_tool("UuEncodeEnd").stdout, b"`\r\nend\r\nB"[:8])
        self.assertEqual(self.run_tool("Version").stdout, b"104\n")
        self.assertIn(b"1.04", self.run_tool("Copyright").stdout)
        bad = self.run_tool("Base64Decode", data=b"YQ\0==")
        self.assertEqual(bad.returncode, 2)
        self.assertEqual(bad.stdout, b"")
        self.assertEqual(bad.stderr.decode(), "error 29904: プロパティの値が不正です。\n")
        self.assertEqual(self.run_tool("NoSuchMember").returncode, 2)
        self.assertEqual(self.run_tool("UuEncodeBegin", "only-one").returncode, 2)

    def test_streamed_input_gives_what_one_call_gives(self):
        # The body conversions read standard input in pieces, from a file or a pipe alike.
        data = rng.randbytes(3 << 20)
        noisy = bytearray(base64.encodebytes(data).replace(b"\n", b"\r\n"))
        for k in range(0, len(noisy), 613):
            noisy[k] = rng.choice(b"=\x80\xff -*\r\n")
        text = data.replace(b"\0", b"\1") + b" \t" * 400000
        for member, source in (("Base64Encode", data), ("Base64Decode", bytes(noisy)),
                               ("QuotedPrintableEncode", text),
                               ("QuotedPrintableDecode", call("QuotedPrintableEncode", text))):
            expected = call(member, source)
            with tempfile.TemporaryFile() as f:
                # A file is mapped from its page holding the offset, and left read to its end.
                f.write(b"skipped" * 700 + source)
                f.seek(4900)
                out = subprocess.run([TOOL, member], stdin=f, capture_output=True, check=True).stdout
                self.assertEqual(os.lseek(f.fileno(), 0, os.SEEK_CUR), 4900 + len(source))
            self.assertEqual(out, expected, member)
            self.assertEqual(self.run_tool(member, data=source).stdout, expected, member)

    def test_late_zero_byte_fails_and_keeps_what_was_written(self):
        text = base64.b64encode(rng.randbytes(3 << 20))
        for member in ("Base64Decode", "QuotedPrintableEncode"):
            bad = self.run_tool(member, data=text + b"\0")
            self.assertEqual((bad.returncode, bad.stderr.decode()), (2, "error 29904: プロパティの値が不正です。\n"))
            self.assertGreater(len(bad.stdout), 0)
            self.assertTrue(call(member, text).startswith(bad.stdout), member)

if __name__ == "__main__":
    unittest.main(verbosity=1)
