"""Opening images, reading planes, lines and colour maps, colour coverage
and the structural check, on the shipped sample and files made here."""

import os
import re
import shutil
import stat

import numpy as np
import pytest

import btreeimg
from conftest import HERE, design


def test_sample_is_read_as_the_tool_describes_it(samples):
    with btreeimg.open(samples / "design.dis") as im:
        assert (im.version, im.plane_count) == (3, 3)
        assert [im.shape(k) for k in (1, 2, 3)] == [(192, 256)] * 3
        assert [im.encoding(k) for k in (1, 2, 3)] == [1, 1, 1]
        plane = im.plane(2)
        assert plane.dtype == np.uint8 and plane.flags.c_contiguous
        assert np.array_equal(im.line(191, 2), plane[191])
        assert im.colour_map.shape == (256, 3)
    assert btreeimg.check(samples / "design.dis") == []


def test_files_written_by_the_tool_read_the_same_in_every_encoding(samples, tool, tmp_path):
    with btreeimg.open(samples / "design.dis") as im:
        expected = [im.plane(k) for k in (1, 2, 3)]
        colours = im.colour_map
    for pack in (0, 2):
        out = tmp_path / f"repacked{pack}.dis"
        tool("repack", samples / "design.dis", out, "--pack", pack)
        with btreeimg.open(out) as im:
            assert im.encoding(1) == pack
            assert all(np.array_equal(im.plane(k), expected[k - 1]) for k in (1, 2, 3))
            assert np.array_equal(im.colour_map, colours)


def test_arrays_are_copies_owned_by_the_caller(tmp_path):
    btreeimg.write(tmp_path / "a.dis", design(5, 6), pack=0)
    with btreeimg.open(tmp_path / "a.dis") as im:
        first = im.plane(1)
        first[:] = 0
        line = im.line(0, 1)
        line[:] = 0
        assert np.array_equal(im.plane(1), design(5, 6))
    assert first.sum() == 0  # still usable after close


def test_a_closed_image_refuses_every_use(samples):
    im = btreeimg.open(samples / "design.dis")
    with im:
        pass
    assert im.closed
    im.close()  # a second close does nothing
    for use in (lambda: im.plane(1), lambda: im.shape(1), lambda: im.version,
                lambda: im.colour_map, lambda: im.line(0, 1)):
        with pytest.raises(ValueError, match="closed"):
            use()
    assert "closed" in repr(im)


# ---- Colour coverage ----------------------------------------------------------

def test_cover_writes_the_changed_plane_only_when_a_pixel_changes(samples, tmp_path):
    out = tmp_path / "covered.dis"
    with btreeimg.open(samples / "design.dis") as im:
        before = im.plane(1)
        assert im.cover(samples / "rules.txt", out) is True
    with btreeimg.open(out) as covered:
        assert covered.plane_count == 1
        after = covered.plane(1)
    assert after.shape == before.shape and (after != before).any()
    assert btreeimg.check(out) == []
    # Rules that change nothing leave the output alone.
    rules = tmp_path / "rules.txt"
    rules.write_text("COLCOPER 250\nCOLTEST 251\nCOLSOST 252\n")
    with btreeimg.open(samples / "design.dis") as im:
        assert im.cover(rules, out) is False
    with btreeimg.open(out) as covered:
        assert np.array_equal(covered.plane(1), after)
    assert sorted(os.listdir(tmp_path)) == ["covered.dis", "rules.txt"]


def test_cover_may_replace_the_image_own_file(samples, tmp_path):
    own = tmp_path / "own.dis"
    shutil.copy(samples / "design.dis", own)
    with btreeimg.open(own) as im:
        before = im.plane(1)
        assert im.cover(samples / "rules.txt", own)
        # The open image reads the file it opened, not the one now at its name.
        assert np.array_equal(im.plane(1), before)
        assert im.cover(samples / "rules.txt", tmp_path / "again.dis")
    with btreeimg.open(own) as im, btreeimg.open(tmp_path / "again.dis") as again:
        assert im.plane_count == 1 and not np.array_equal(im.plane(1), before)
        assert np.array_equal(im.plane(1), again.plane(1))


def test_cover_saves_through_a_link_keeping_it_and_the_mode(samples, tmp_path):
    real = tmp_path / "real"
    real.mkdir()
    target = real / "target.dis"
    target.write_bytes(b"the old content")
    target.chmod(0o640)
    link = tmp_path / "out.dis"
    link.symlink_to(target)
    with btreeimg.open(samples / "design.dis") as im:
        assert im.cover(samples / "rules.txt", link)
    assert link.is_symlink() and os.readlink(link) == str(target)
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    assert btreeimg.check(target) == [] and btreeimg.open(target).plane_count == 1
    assert sorted(os.listdir(tmp_path)) == ["out.dis", "real"]
    assert os.listdir(real) == ["target.dis"]


def test_cover_refuses_unusable_rule_files(samples, tmp_path):
    rules = tmp_path / "rules.txt"
    out = tmp_path / "out.dis"
    with btreeimg.open(samples / "design.dis") as im:
        with pytest.raises(FileNotFoundError) as missing:
            im.cover(tmp_path / "none.txt", out)
        assert missing.value.filename.endswith("none.txt")
        for text, reason in (("COLTEST 1\nCOLSOST 2\n", "COLCOPER"),
                             ("COLCOPER 1\nCOLCOPER 2\nCOLTEST 1\nCOLSOST 2\n", "COLTEST"),
                             ("COLCOPER red\nCOLTEST 1\nCOLSOST 2\n", "not a number")):
            rules.write_text(text)
            with pytest.raises(ValueError, match=reason):
                im.cover(rules, out)
    assert not out.exists()


# ---- Check ----------------------------------------------------------------

def test_check_names_the_damage(tmp_path):
    path = tmp_path / "damaged.dis"
    btreeimg.write(path, [design(20, 30), design(20, 30, 1)], pack=1)
    data = bytearray(path.read_bytes())
    path.write_bytes(bytes(data[:-40]))  # plane 2 loses its last lines' pairs
    problems = btreeimg.check(path)
    assert problems and all(isinstance(p, str) for p in problems)
    assert any(p.startswith("plane 2:") for p in problems)
    path.write_bytes(b"\x07\x00" + bytes(2000))
    assert len(btreeimg.check(path)) == 1  # not an image: one reason


def test_check_gives_the_tools_words(damaged, tool):
    output = tool("check", damaged, check=False).splitlines()
    assert output == [f"{damaged}: {problem}" for problem in btreeimg.check(damaged)]


def test_damage_is_refused_at_open_where_the_layout_shows_it_else_when_read(
        damaged, samples, tmp_path):
    problems = btreeimg.check(damaged)
    more = len(problems) - 1
    summary = f"{problems[0]} (and {more} more problem{'s' * (more > 1)})"
    if damaged.name == "cut.dis":  # planes outside the file
        with pytest.raises(btreeimg.FormatError) as caught:
            btreeimg.open(damaged)
        assert str(caught.value) == f"{damaged}: {summary}"
        return
    # A line's code: the lines before it read, the damaged one is refused.
    with btreeimg.open(damaged) as im, btreeimg.open(samples / "design.dis") as sound:
        assert np.array_equal(im.line(3, 1), sound.line(3, 1))
        for read in (lambda: im.plane(1), lambda: im.line(4, 1)):
            with pytest.raises(btreeimg.FormatError) as caught:
                read()
            assert str(caught.value) == f"{damaged}: {problems[0]}"
        assert im.problems == problems
        with pytest.raises(btreeimg.FormatError) as caught:  # reads the whole plane
            im.cover(samples / "rules.txt", tmp_path / "out.dis")
        assert str(caught.value) == f"{damaged}: {summary}"
    assert sorted(os.listdir(tmp_path)) == ["table.dis"]


def test_lenient_reading_reads_what_the_file_holds(samples, damaged):
    with btreeimg.open(samples / "design.dis") as im:
        sound = im.plane(1)
    with btreeimg.open(damaged, lenient=True) as im:
        assert im.problems == btreeimg.check(damaged)
        plane = im.plane(1)
        assert np.array_equal(im.line(0, 1), plane[0])
    assert np.array_equal(plane[:3], sound[:3])  # lines before the damage
    if damaged.name == "cut.dis":  # bytes past the end read as 0
        assert not plane[-1].any() and sound[-1].any()


def test_version_and_namespace():
    version = re.search(r"project\(btreeimg VERSION (\S+)",
                        (HERE.parent.parent / "CMakeLists.txt").read_text())
    assert btreeimg.__version__ == version.group(1)
    public = {name for name in dir(btreeimg) if not name.startswith("_")}
    assert public <= set(btreeimg.__all__) | {"pillow"}
