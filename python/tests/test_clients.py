"""Python's image tools read and write the format through the Pillow
plugin, with no step of their own: imageio (its own format registry),
scikit-image and dask.array through imageio, dask.distributed worker
processes that preload the plugin, and matplotlib's imsave by the
extension's name."""

import os
import subprocess
import sys

import numpy as np
import pytest

import btreeimg
import btreeimg.pillow  # before imageio: registers the format when imageio is imported
from conftest import design

imageio = pytest.importorskip("imageio")


def coloured(path):
    """Every plane of `path` through its colour map, as imageio gives a
    palette image that is not grey: RGBA, opaque."""
    with btreeimg.open(path) as im:
        colours = np.concatenate([im.colour_map, np.full((256, 1), 255, np.uint8)], axis=1)
        return [colours[im.plane(k)] for k in range(1, im.plane_count + 1)]


def test_imageio_and_scikit_image_read_every_plane(samples):
    from skimage import io as skio

    path = str(samples / "design.dis")
    planes = coloured(path)
    assert np.array_equal(imageio.imread(path), planes[0])
    assert all(np.array_equal(a, b) for a, b in zip(imageio.mimread(path), planes, strict=True))
    with imageio.get_reader(path) as reader:
        assert reader.format.name == "BTREEIMG-PIL" and reader.get_length() == 3
    assert np.array_equal(skio.imread(path), planes[0])


@pytest.mark.parametrize("imports", [
    "import imageio, btreeimg.pillow",  # imageio first
    "import btreeimg.pillow, importlib.util; importlib.util.find_spec('imageio'); import imageio",
])
def test_imageio_finds_the_format_whatever_the_order_of_imports(samples, imports):
    done = subprocess.run([sys.executable, "-c", f"{imports}; import sys; "
                           "print(imageio.imread(sys.argv[1]).shape)",
                           str(samples / "design.dis")], capture_output=True, text=True)
    assert done.stdout == "(192, 256, 4)\n", done.stderr


def test_a_folder_on_dask_worker_processes_sums_as_the_files_do(tmp_path):
    da_image = pytest.importorskip("dask.array.image")
    distributed = pytest.importorskip("distributed")
    planes = [design(48, 64, s) for s in range(5)]
    for k, plane in enumerate(planes):  # grey ramps: imageio gives the values
        btreeimg.write(tmp_path / f"d{k}.dis", plane)

    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=True,
                                  dashboard_address=None, preload=["btreeimg.pillow"]) as cluster, \
            distributed.Client(cluster) as client:
        stack = da_image.imread(str(tmp_path / "*.dis"))
        assert stack.shape == (5, 48, 64)
        assert client.compute(stack.sum(axis=(1, 2))).result().tolist() == [
            int(p.sum()) for p in planes]


def test_matplotlib_names_the_format_by_its_extension(tmp_path):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    (tmp_path / "x.dis").write_bytes(b"kept")
    with pytest.raises(ValueError, match=r"mode RGBA .*quantize"):  # RGBA, not KeyError
        plt.imsave(tmp_path / "x.dis", design(4, 4), cmap="viridis")
    assert (tmp_path / "x.dis").read_bytes() == b"kept"
