"""The ORBIT effect's script (effects/orbit/data/script.txt), written by
tools/make_demo_scene.py beside the demo room.

The room's text is generated as scenes/room.txt; the script names it
ORBIT.TXT, a link to that file (the file layer matches names without
regard to case), so the effect's cache is data/scenesbin/orbit.HVX.
"""
import os

SCRIPT = """\
// ORBIT: the demo room of the 3D scene engine (a spinning hub with moons,
// a tracked point light, a ribbon skinned on two bones, a wall mirror, a
// beam lamp) with fog and stencil shadows. Every sound-syncer beat (the
// demo's shared threshold: the bins up to 215 Hz louder than 0.4) jumps
// the animation 0.25 s on; the camera changes every 6 s; at 4 s the
// picture shrinks into a window, the camera shakes at 6 s, and the window
// opens again at 8 s. Loops every 12 s; it moves from its first frame.
// The fog runs in depth-buffer units (0..1): with the cameras' near plane
// of 0.2 it starts about 7 units away and is full about 40 away.
FXINSTANCE SYNC SOUNDSYNCER
FXINSTANCE SCENE 3DSCENE ORBIT.TXT

FXSTART SYNC
FXLAYER SYNC 0
FXCOMMAND SYNC SETINPUT SYNC
FXCOMMAND SYNC BEATTHRESHOLD 0.01 0.4

FXSTART SCENE
FXLAYER SCENE 0
FXCOMMAND SCENE FOG ON 0.97 0.995 0.05 0.05 0.12
FXCOMMAND SCENE SHADOWS ON
FXCOMMAND SCENE BEATFORWARD 0.25
FXCOMMAND SCENE NEXTCAMERA 6

SYNCTIME 4
FXCOMMAND SCENE VIEWPORT 80 60 480 360 1.5

SYNCTIME 6
FXCOMMAND SCENE NOISE 0.25 0.25 0.1 1.5

SYNCTIME 8
FXCOMMAND SCENE VIEWPORT 0 0 640 480 1.5

SYNCTIME 12
"""


def write_orbit_script(data):
    """Writes data/script.txt and links scenes/orbit.txt to scenes/room.txt."""
    with open(os.path.join(data, "script.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write(SCRIPT)
    link = os.path.join(data, "scenes", "orbit.txt")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink("room.txt", link)
