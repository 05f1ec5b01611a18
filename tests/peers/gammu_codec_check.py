"""The library's long messages and status reports checked against python-gammu.

    gammu_codec_check.py <peer_codec program> <tests/data/real-world>

- Every PDU the library writes for a long or a 7-bit text decodes with gammu to the same text,
  and gammu links the parts of a long one back into the original.
- Concatenated messages made by gammu's own multipart encoder (8- and 16-bit references, 7-bit
  and UCS-2), listed in the module's store in a shuffled order, reassemble through the library
  to the original text.
- gammu cannot make SMS-STATUS-REPORT PDUs (EncodePDU with the StatusReport layout gives an
  empty result, checked below), so the status reports of gammu's own test data are used: gammu
  reads each one's reference, recipient and TP-Status, and the library must give that outcome to
  the message it is about and to no other.

Needs python3-gammu (Debian's /usr/bin/python3 has it). Exits 0 when every check passed.
"""

import csv
import datetime
import random
import subprocess
import sys

import gammu

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(tool, mode, lines):
    done = subprocess.run([tool, mode], input="".join(line + "\n" for line in lines),
                          capture_output=True, text=True, timeout=120, check=False)
    if done.returncode != 0:
        sys.exit("peer_codec %s failed (%d): %s" % (mode, done.returncode, done.stderr))
    return done.stdout.splitlines()


# The characters of the GSM 7-bit extension table: an escape and a code each.
EXTENSION_TABLE = set("\f^{}\\[~]|€")


def hex_of(text):
    return text.encode("utf-8").hex().upper()


# Texts of at most 255 UTF-8 bytes, the host's limit: 7-bit single and long (with escape pairs
# at part boundaries), and UCS-2 single and long (with a surrogate pair at a part boundary).
SEND_TEXTS = [
    "Grüße aus München! 5€ [inkl.]",
    "Grüße aus München, ça va?",
    "Δ" * 120 + "ΦΓΛ",
    "The quick brown fox jumps over the lazy dog. " * 5,
    "a" * 152 + "€" + "{}" * 20 + "~^|\\",
    "[" * 200 + "é",
    "中文短信" * 20,
    "x" * 66 + "😀" + "y" * 30,
    "Ёлки-палки, " * 8,
]


def check_encoder(tool):
    numbers = ["13912345678", "+4915112345678"]
    lines = run(tool, "encode", ["%s %s" % (numbers[i % 2], hex_of(text))
                                 for i, text in enumerate(SEND_TEXTS)])
    check(len(lines) == len(SEND_TEXTS), "one answer per text")
    for text, line in zip(SEND_TEXTS, lines):
        label = repr(text[:20])
        check(line != "-", "%s was not sent" % label)
        if line == "-":
            continue
        try:
            decoded = [gammu.DecodePDU(bytes.fromhex(pdu)) for pdu in line.split()]
        except gammu.GSMError as error:
            check(False, "%s: gammu cannot read a PDU: %s" % (label, error))
            continue
        gsm7 = all(message["Coding"] == "Default_No_Compression" for message in decoded)
        unicode = all(message["Coding"] == "Unicode_No_Compression" for message in decoded)
        check(gsm7 or unicode, "%s: one coding for every part" % label)
        check(all(message["Type"] == "Submit" for message in decoded), "%s: SUBMITs" % label)
        if len(decoded) == 1:
            check(decoded[0]["UDH"]["Type"] == "NoUDH", "%s: a single part has no header" % label)
            read = decoded[0]["Text"]
            if gsm7:
                # gammu 1.42's DecodePDU gives as many characters as the user-data length has
                # septets, so behind a text with characters of the extension table (two septets
                # each) stand as many stray ones; gammu's own encoder writes the same user data
                # and reads it back the same way. The length must be the text's septets.
                septets = len(text) + sum(c in EXTENSION_TABLE for c in text)
                check(decoded[0]["Length"] == septets,
                      "%s: %d septets, not %d" % (label, decoded[0]["Length"], septets))
                read = read[:len(text)]
            check(read == text, "%s: gammu reads %r" % (label, read))
            continue
        headers = [message["UDH"] for message in decoded]
        check(all(h["Type"] == "ConcatenatedMessages" and h["AllParts"] == len(decoded)
                  and h["ID8bit"] == headers[0]["ID8bit"] for h in headers),
              "%s: every part names the message and its part count" % label)
        check([h["PartNumber"] for h in headers] == list(range(1, len(decoded) + 1)),
              "%s: parts in order" % label)
        linked = gammu.LinkSMS([[message] for message in decoded])
        check(len(linked) == 1 and len(linked[0]) == len(decoded),
              "%s: gammu links the parts into one message" % label)
        if len(linked) == 1:
            joined = gammu.DecodeSMS(linked[0])
            text_back = joined["Entries"][0]["Buffer"] if joined else None
            check(text_back == text, "%s: gammu joins %r" % (label, text_back))
    print("encoder: %d texts through gammu's decoder" % len(SEND_TEXTS))


RECEIVE_TEXTS = [
    (False, "ConcatenatedTextLong", "The quick brown fox jumps over the lazy dog. " * 12),
    (False, "ConcatenatedTextLong16bit", "Grüße {aus} München! €" * 20),
    (True, "ConcatenatedTextLong", "中文短信，长一点。" * 20),
    (True, "ConcatenatedTextLong16bit", "Привет, мир! " * 15),
]


def check_reassembly(tool):
    # gammu's multipart encoder cannot make SMS-STATUS-REPORTs, but it can make SMS-DELIVERs.
    stamp = datetime.datetime(2024, 5, 12, 10, 23, 45)
    lines = []
    shuffle = random.Random(16)
    for unicode, element, text in RECEIVE_TEXTS:
        parts = gammu.EncodeSMS({"Class": -1, "Unicode": unicode,
                                 "Entries": [{"ID": element, "Buffer": text}]})
        pdus = []
        for message in parts:
            message.update({"Type": "Deliver", "Number": "+8613800138000", "DateTime": stamp,
                            "SMSCDateTime": stamp,
                            "SMSC": {"Location": 0, "Number": "+8613800100500"}})
            pdus.append(gammu.EncodePDU(message, "Deliver").hex().upper())
        check(len(pdus) > 1, "gammu made %d parts of a long text" % len(pdus))
        shuffle.shuffle(pdus)
        lines.append(" ".join(pdus))
    answers = run(tool, "reassemble", lines)
    check(len(answers) == len(RECEIVE_TEXTS), "one answer per message")
    for (_, element, text), answer in zip(RECEIVE_TEXTS, answers):
        joined_hex, records = answer.split()
        joined = bytes.fromhex(joined_hex).decode("utf-8") if joined_hex != "-" else None
        label = "%s %r" % (element, text[:16])
        check(joined == text, "%s: the library joins %r" % (label, joined))
        expected_records = (len(text.encode("utf-8")) + 254) // 255
        check(int(records) >= expected_records,
              "%s: %s records for %d bytes" % (label, records, len(text.encode("utf-8"))))
    print("reassembly: %d messages made by gammu" % len(RECEIVE_TEXTS))


def status_outcome(status):
    group = (status >> 5) & 3
    return 1 if group == 0 else (-1 if group == 1 else 0)


def check_reports(tool, data_dir):
    # First what makes this necessary: gammu has no encoder for SMS-STATUS-REPORTs.
    probe = gammu.EncodeSMS({"Class": -1, "Entries": [{"ID": "Text", "Buffer": "x"}]})[0]
    probe.update({"Type": "Status_Report", "Number": "+8613912345678", "MessageReference": 5,
                  "DeliveryStatus": 0, "SMSC": {"Location": 0, "Number": "+8613800100500"}})
    check(gammu.EncodePDU(probe, "StatusReport") == b"",
          "gammu encodes status reports now: use its encoder here")

    rows = []
    with open(data_dir + "/pdus_other.tsv", encoding="utf-8", newline="") as table:
        for row in csv.DictReader(table, delimiter="\t"):
            if (row["tpdu_type"] == "SMS-STATUS-REPORT" and row["source_file"].startswith("gammu/")
                    and "failing" not in row["source_file"]):
                rows.append(row["pdu_hex"])
    # They all say "delivered". The other outcomes come from the same reports with another
    # TP-Status in their last octet, which gammu reads back before they are used.
    variants = []
    for pdu in rows:
        variants.append(pdu)
        for status in (0x20, 0x41, 0x46, 0x62):
            variants.append(pdu[:-2] + "%02X" % status)
    lines, expected = [], []
    for pdu in variants:
        try:
            report = gammu.DecodePDU(bytes.fromhex(pdu))
        except gammu.GSMError:
            check(pdu not in rows, "gammu cannot read its own test report %s" % pdu)
            continue
        number = report["Number"]
        if report["Type"] != "Status_Report" or not number.lstrip("+").isdigit():
            continue
        if pdu not in rows and report["DeliveryStatus"] != int(pdu[-2:], 16):
            continue  # the status octet is not the last one in this report
        lines.append("%s %d %s" % (pdu, report["MessageReference"], number))
        expected.append((status_outcome(report["DeliveryStatus"]), report["DeliveryStatus"]))
    check(len(lines) >= 25, "gammu's test data gives %d usable status reports" % len(lines))
    answers = run(tool, "reports", lines)
    check(len(answers) == len(lines), "one answer per report")
    for line, (outcome, status), answer in zip(lines, expected, answers):
        about, other_reference, other_number = (int(x) for x in answer.split())
        label = "report %s (TP-Status 0x%02X)" % (line.split()[0][:24], status)
        check(about == outcome, "%s: the message it is about gives %d, not %d"
              % (label, about, outcome))
        check(other_reference == -1 and other_number == -1,
              "%s: matched to another message (%d, %d)" % (label, other_reference, other_number))
    print("status reports: %d of gammu's test data, read by gammu, matched by the library"
          % len(lines))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    tool, data_dir = sys.argv[1], sys.argv[2]
    check_encoder(tool)
    check_reassembly(tool)
    check_reports(tool, data_dir)
    if failures:
        sys.exit("gammu_codec_check: %d check(s) failed" % len(failures))
    print("gammu_codec_check: all passed")


if __name__ == "__main__":
    main()
