"""The message catalogue source res/messages.mc, read as the executable's
message table holds it."""
import os

MC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "res", "messages.mc")


def parse_mc(path=MC):
    """Texts by (id, language) exactly as stored (line breaks included)."""
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8").splitlines(keepends=True)
    names, texts, mid, i = {}, {}, None, 0
    while i < len(lines):
        line = lines[i].strip()
        if line.startswith("LanguageNames=("):
            name, rest = line[len("LanguageNames=("):-1].split("=")
            names[name] = int(rest.split(":")[0], 0)
        elif line.startswith("MessageId="):
            mid = int(line[len("MessageId="):], 0)
        elif line.startswith("Language="):
            lang = names[line[len("Language="):]]
            i += 1
            body = ""
            while lines[i].strip() != ".":
                body += lines[i]
                i += 1
            texts[(mid, lang)] = body
        i += 1
    return texts


def formatted(texts, mid, lang):
    """The text as formatting gives it: it stops at "%0"."""
    text = texts[(mid, lang)]
    return text.split("%0")[0]
