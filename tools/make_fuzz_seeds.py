#!/usr/bin/env python3
"""Makes the fuzzing harnesses' seed corpora (fuzz/corpus/NAME/) from the
repository's own files: effect scripts, material scripts, the demo preset
(cut to a few bindings), the bundled pictures (shrunk with ImageMagick and
saved in every format and variant the readers take), protocol frames
written from the wire layout, and small scene texts (converted into binary
scenes by the scene_binary harness itself). Also writes the regression
inputs of the faults mended by hand (fuzz/regressions/NAME/); reproducers
the fuzzer finds are copied there as they are.

Usage: tools/make_fuzz_seeds.py [BUILD_DIR]   (default: build; BUILD_DIR
must hold fuzz/fuzz_scene_binary, the replay build of the harness)
Seeds are small on purpose (a few KiB): the fuzzer mutates them fastest.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")
REGRESSIONS = os.path.join(ROOT, "fuzz", "regressions")


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def seed(harness, name, data):
    write(os.path.join(CORPUS, harness), name, data)


def regression(harness, name, data):
    write(os.path.join(REGRESSIONS, harness), name, data)


def read(path):
    with open(os.path.join(ROOT, path), "rb") as f:
        return f.read()


# --- protocol frames (little-endian fields, char[n] blocks) --------------------

def text_block(text, size):
    raw = text.encode()[: size - 1]
    return raw + b"\0" * (size - len(raw))


def effect_record(effect_id, name, loaded):
    return struct.pack("<i", effect_id) + text_block(name, 64) + bytes([1 if loaded else 0])


def deck_record(deck, mask=27, fader=1.0, effect="", mixer=-1, effect_id=-1, low=0, high=10, threshold=0.5,
                beat_mode=0, speed=0.75):
    return (struct.pack("<IiIf", 0, deck, mask, fader) + text_block(effect, 64) +
            struct.pack("<iiIIfif", mixer, effect_id, low, high, threshold, beat_mode, speed))


def mixer_record(index, name):
    return struct.pack("<i", index) + text_block(name, 32)


def payloads():
    state = (struct.pack("<II", 4, 2) + effect_record(0, "TUNNEL", True) + effect_record(1, "SLIDES", False) +
             struct.pack("<I", 6) + b"".join(deck_record(d) for d in range(6)) +
             struct.pack("<I", 3) + mixer_record(0, "ALPHABLEND") + mixer_record(1, "BEATBLEND") +
             mixer_record(2, "ADDITIVE") + struct.pack("<IIf", 0, 10, 0.5))
    log = "Loaded effect TUNNEL".encode() + b"\0"
    return {
        "client_handshake": struct.pack("<I", 1),
        "server_handshake": struct.pack("<IBB", 2, 0, 1),
        "list_effects": struct.pack("<I", 3),
        "state": state,
        "load_effect": struct.pack("<IiB", 5, 2, 1),
        "log_event": struct.pack("<II", 6, len(log)) + log,
        "effect_status": struct.pack("<I", 7) + effect_record(0, "TUNNEL", True),
        "set_deck_effect": struct.pack("<Iii", 8, 3, 1),
        "deck_status": struct.pack("<I", 9) + deck_record(2, effect="TUNNEL", effect_id=0),
        "deck_update": struct.pack("<I", 10) + deck_record(-1, mask=4, low=2, high=40, threshold=0.25),
        "player_status": struct.pack("<Ii", 11, 59),
        "unknown_type": struct.pack("<II", 99, 0),
    }


def frame(payload):
    return struct.pack("<I", len(payload)) + payload


def net_seeds():
    all_payloads = payloads()
    for name, payload in all_payloads.items():
        seed("wire", name, payload)
    session = b"".join(frame(all_payloads[n]) for n in
                       ("client_handshake", "list_effects", "load_effect", "set_deck_effect", "deck_update"))
    replies = b"".join(frame(all_payloads[n]) for n in
                       ("server_handshake", "state", "log_event", "effect_status", "deck_status", "player_status"))
    for step in (0, 1, 7, 100):
        seed("link", "client_step%d" % step, bytes([step]) + session)
        seed("link", "server_step%d" % step, bytes([step]) + replies)
    seed("link", "unknown_then_handshake", bytes([0]) + frame(all_payloads["unknown_type"]) +
         frame(all_payloads["client_handshake"]))


# --- text formats ----------------------------------------------------------------

def trimmed_preset(binds):
    text = read("presets/demo.HVR").decode("latin-1")
    found = re.findall(r"<BIND>.*?</BIND>", text, re.S)
    return "<BINDS>\n" + "\n".join(found[:binds]) + "\n</BINDS>\n"


SCENES = {
    "camera_only": """<SCENE> <SCENEINFO> <FRAMERATE> 30 </FRAMERATE> </SCENEINFO>
<CAMERA> <ID> 100 </ID> <NAME> "Camera01" </NAME> <POSITION> 0.0 0.0 -10.0 </POSITION>
<ROTATION> 0.0 0.0 0.0 1.0 </ROTATION> <FOV> 60.0 </FOV> <NEAR> 1.0 </NEAR> <FAR> 1000.0 </FAR> </CAMERA>
</SCENE>
""",
    "textured_triangle_light": """<SCENE> <SCENEINFO> <FRAMERATE> 25 </FRAMERATE> <AMBIENT> 0.1 0.2 0.3 </AMBIENT> </SCENEINFO>
<TEXTURE> <ID> 1 </ID> <FILE> "maps\\\\Brick.tga" </FILE> </TEXTURE>
<MATERIAL> <ID> 1 </ID> <NAME> "Mat" </NAME> <DIFFUSETEXTUREID> 1 </DIFFUSETEXTUREID>
<REFLECTIONTEXTUREID> -1 </REFLECTIONTEXTUREID> <DIFFUSECOLOR> 1.0 0.5 0.25 </DIFFUSECOLOR> </MATERIAL>
<MESH> <ID> 1 </ID> <NAME> "Tri" </NAME> <POSITION> 0.0 0.0 0.0 </POSITION> <ROTATION> 0.0 0.0 0.0 1.0 </ROTATION>
<PIVOTPOSITION> 0.0 0.0 0.0 </PIVOTPOSITION> <PIVOTROTATION> 0.0 0.0 0.0 1.0 </PIVOTROTATION>
<MAXMESH> <VERTICES> 0.0 0.0 0.0 1.0 0.0 0.0 0.0 1.0 0.0 </VERTICES>
<UVVERTICES> 0.0 0.0 1.0 0.0 0.0 1.0 </UVVERTICES> <COLORVERTICES> </COLORVERTICES>
<FACES> <VERTICESINDICES> 0 1 2 </VERTICESINDICES> <TVERTICESINDICES> 0 1 2 </TVERTICESINDICES>
<SMOOTHINGGROUP> 1 </SMOOTHINGGROUP> <MATERIALINDICES> 1 </MATERIALINDICES> </FACES> </MAXMESH> </MESH>
<CAMERA> <ID> 100 </ID> <NAME> "Camera01" </NAME> <POSITION> 0.0 0.0 -10.0 </POSITION>
<ROTATION> 0.0 0.0 0.0 1.0 </ROTATION> <FOV> 60.0 </FOV> <NEAR> 1.0 </NEAR> <FAR> 1000.0 </FAR> </CAMERA>
<LIGHT> <ID> 200 </ID> <TYPE> "OMNI" </TYPE> <POSITION> 1.0 2.0 3.0 </POSITION> <ROTATION> 0.0 0.0 0.0 1.0 </ROTATION>
<COLOR> 1.0 1.0 1.0 </COLOR> <MULTIPLIER> 2.0 </MULTIPLIER> <FARATTENUATION> 50.0 </FARATTENUATION> </LIGHT>
<CONTROLLER> <TYPE> "POSROT" </TYPE> <OWNERID> 1 </OWNERID> <DATA> <SAMPLES> 0.0 0.0 0.0 0.0 0.0 0.0 1.0
1.0 0.0 0.0 0.0 0.0 0.0 1.0 </SAMPLES> </DATA> </CONTROLLER>
<CONTROLLER> <TYPE> "FLOAT" </TYPE> <OWNERID> 100 </OWNERID> <DATA> <SAMPLES> 60.0 45.0 </SAMPLES> </DATA> </CONTROLLER>
</SCENE>
""",
    "parented_cubes": """<SCENE> <SCENEINFO> <FRAMERATE> 30 </FRAMERATE> </SCENEINFO>
<MESH> <ID> 1 </ID> <NAME> "Cube" </NAME> <POSITION> 0.0 0.0 0.0 </POSITION> <ROTATION> 0.0 0.0 0.0 1.0 </ROTATION>
<PIVOTPOSITION> 0.0 0.0 0.0 </PIVOTPOSITION> <PIVOTROTATION> 0.0 0.0 0.0 1.0 </PIVOTROTATION>
<MAXMESH> <VERTICES> 0.0 0.0 0.0 1.0 0.0 0.0 1.0 1.0 0.0 0.0 1.0 0.0 0.0 0.0 1.0 1.0 0.0 1.0 1.0 1.0 1.0 0.0 1.0 1.0 </VERTICES>
<UVVERTICES> </UVVERTICES> <COLORVERTICES> 1.0 0.0 0.0 0.0 1.0 0.0 </COLORVERTICES>
<FACES> <VERTICESINDICES> 0 2 1 0 3 2 4 5 6 4 6 7 </VERTICESINDICES> <CVERTICESINDICES> 0 1 0 1 0 1 0 1 0 1 0 1 </CVERTICESINDICES>
<MATERIALINDICES> -1 -1 -1 -1 </MATERIALINDICES> </FACES> </MAXMESH> </MESH>
<MESH> <ID> 2 </ID> <NAME> "Child" </NAME> <POSITION> 2.0 0.0 0.0 </POSITION> <ROTATION> 0.0 0.7071068 0.0 0.7071068 </ROTATION>
<PIVOTPOSITION> 0.0 0.0 0.0 </PIVOTPOSITION> <PIVOTROTATION> 0.0 0.0 0.0 1.0 </PIVOTROTATION> <PARENTID> 1 </PARENTID>
<MAXMESH> <VERTICES> 0.0 0.0 0.0 1.0 0.0 0.0 0.0 1.0 0.0 </VERTICES> <UVVERTICES> </UVVERTICES> <COLORVERTICES> </COLORVERTICES>
<FACES> <VERTICESINDICES> 0 1 2 </VERTICESINDICES> <MATERIALINDICES> -1 </MATERIALINDICES> </FACES> </MAXMESH> </MESH>
<CAMERA> <ID> 100 </ID> <NAME> "Camera01" </NAME> <POSITION> 0.0 0.0 -10.0 </POSITION>
<ROTATION> 0.0 0.0 0.0 1.0 </ROTATION> <FOV> 60.0 </FOV> <NEAR> 1.0 </NEAR> <FAR> 1000.0 </FAR> </CAMERA>
<LIGHT> <ID> 201 </ID> <TYPE> "SPOT" </TYPE> <POSITION> 0.0 5.0 0.0 </POSITION> <ROTATION> 0.0 0.0 0.0 1.0 </ROTATION>
<COLOR> 1.0 0.9 0.8 </COLOR> </LIGHT>
</SCENE>
""",
}


def text_seeds(build):
    scripts = ["effects/%s/data/script.txt" % e for e in sorted(os.listdir(os.path.join(ROOT, "effects")))]
    scripts.append("tests/fx/data/effects/slideshow/data/script.txt")
    for path in scripts:
        if os.path.exists(os.path.join(ROOT, path)):
            seed("effect_script", path.split("/")[-3], read(path))
    for name in sorted(os.listdir(os.path.join(ROOT, "data", "shaders"))):
        data = read("data/shaders/" + name)
        seed("material", name, data)
        seed("tags", "shader_" + name, data)
    for binds in (1, 3):
        seed("preset", "demo_%d_binds.HVR" % binds, trimmed_preset(binds))
    seed("tags", "preset.HVR", trimmed_preset(1))
    harness = os.path.join(ROOT, build, "fuzz", "fuzz_scene_binary")
    for name, text in SCENES.items():
        seed("scene_text", name + ".txt", text)
        seed("tags", "scene_" + name + ".txt", text)
        with tempfile.TemporaryDirectory() as tmp:
            src, out = os.path.join(tmp, "in.txt"), os.path.join(tmp, "out.hvx")
            with open(src, "w") as f:
                f.write(text)
            subprocess.run([harness, "--make-seed", src, out], check=True, stderr=subprocess.DEVNULL)
            with open(out, "rb") as f:
                seed("scene_binary", name + ".HVX", f.read())


# --- pictures ----------------------------------------------------------------------

def convert(source, options, fmt):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out")
        subprocess.run(["convert", os.path.join(ROOT, source), "-resize", "16x12!"] + options + ["%s:%s" % (fmt, out)],
                       check=True)
        with open(out, "rb") as f:
            return f.read()


def image_seeds():
    glow, sweep, rings = ("effects/logo/data/images/glow.tga", "effects/logo/data/images/sweep.jpg",
                          "effects/slides/data/images/rings.bmp")
    # Kind byte first: 0 TGA with alpha, 1 TGA without, 2 BMP, 3 JPEG, 4 pair.
    seed("image", "tga32", bytes([0]) + convert(glow, ["-depth", "8", "-compress", "None"], "TGA"))
    seed("image", "tga32_rle_noalpha", bytes([1]) + convert(glow, ["-depth", "8", "-compress", "RLE"], "TGA"))
    seed("image", "tga24_rle", bytes([0]) + convert(sweep, ["-depth", "8", "-type", "TrueColor", "-compress", "RLE"],
                                                    "TGA"))
    seed("image", "bmp24", bytes([2]) + convert(rings, ["-type", "TrueColor"], "BMP3"))
    seed("image", "bmp8", bytes([2]) + convert(rings, ["-type", "Palette", "-colors", "16"], "BMP3"))
    seed("image", "jpeg", bytes([3]) + convert(sweep, ["-quality", "80"], "JPEG"))
    seed("image", "jpeg_progressive", bytes([3]) + convert(sweep, ["-quality", "80", "-interlace", "Plane"], "JPEG"))
    seed("image", "jpeg_grey", bytes([3]) + convert(sweep, ["-colorspace", "Gray"], "JPEG"))
    colour = convert("effects/logo/data/images/halvane@RGB.JPG", ["-quality", "70"], "JPEG")
    alpha = convert("effects/logo/data/images/halvane@ALPHA.JPG", ["-colorspace", "Gray", "-quality", "70"], "JPEG")
    # The harness splits the rest in halves: pad the shorter file after
    # its end marker (libjpeg ignores what follows it).
    size = max(len(colour), len(alpha))
    seed("image", "pair_grey_alpha", bytes([4]) + colour.ljust(size, b"\0") + alpha.ljust(size, b"\0"))


# --- regressions of the faults mended by hand --------------------------------------

def regressions():
    photo = convert("effects/logo/data/images/sweep.jpg", ["-quality", "90"], "JPEG")
    sof = photo.find(b"\xff\xc0")
    sos = photo.find(b"\xff\xda")
    header = bytearray(photo[: sos + 2 + struct.unpack(">H", photo[sos + 2: sos + 4])[0]])
    header[sof + 5: sof + 9] = struct.pack(">HH", 8192, 8192)
    # A header declaring 8192 x 8192 that ends before any picture data: it
    # once decoded "successfully" into 192 MiB of grey.
    regression("image", "jpeg_huge_header_without_data", bytes([3]) + bytes(header))
    regression("effect_script", "synctime_beyond_float",
               "FXINSTANCE S SOUNDSYNCER\nSYNCTIME 1e300\nFXSTART S\nSYNCTIME -1e300\n"
               "FXCOMMAND S BEATTHRESHOLD 1e300 -1e300\nSYNCTIME 3.5e38\n")
    regression("preset", "fader_1e30", "<BINDS> <BIND> <KEY> \"A\" </KEY> <DECK> <DECKNUM> 0 </DECKNUM> <FADER> "
               "1000000000000000000000000000000.000000 </FADER> <MIXER> -1 </MIXER> <EFFECT> \"X\" </EFFECT> "
               "</DECK> <DECK> </DECK> <DECK> </DECK> <DECK> </DECK> <DECK> </DECK> <DECK> </DECK> "
               "<PAGE> 0 </PAGE> </BIND> </BINDS>\n")


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    net_seeds()
    text_seeds(build)
    image_seeds()
    regressions()
    for harness in sorted(os.listdir(CORPUS)):
        files = os.listdir(os.path.join(CORPUS, harness))
        print("%-14s %3d seeds" % (harness, len(files)))


if __name__ == "__main__":
    main()
