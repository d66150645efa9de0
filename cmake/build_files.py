"""What the build's own scripts share: reading a source as text, and writing
an output so that it is either whole or not there at all.

A failure raises Refused with the file and the reason, for the script to
print and exit on; the output is then left as it was.
"""
import os
import tempfile


class Refused(Exception):
    pass


def read_text(path):
    """The UTF-8 text of path."""
    try:
        with open(path, encoding="utf-8") as source:
            return source.read()
    except OSError as error:
        raise Refused(f"cannot read {path}: {error.strerror}") from None
    except UnicodeDecodeError as error:
        raise Refused(f"{path} is not UTF-8 text (byte {error.start})") from None


def write_beside(output, data):
    """Writes data (bytes, or text as UTF-8 with \\n line ends) to a
    temporary file beside output, flushed to disk, rw-r--r--, and renames it
    over output when complete."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    directory = os.path.dirname(os.path.abspath(output))
    name, suffix = os.path.splitext(os.path.basename(output))
    temporary = None
    try:
        os.makedirs(directory, exist_ok=True)
        handle, temporary = tempfile.mkstemp(prefix=f".{name}-", suffix=suffix, dir=directory)
        with os.fdopen(handle, "wb") as stream:
            stream.write(data)
            stream.flush()
            os.fsync(stream.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, output)
        temporary = None
    except OSError as error:
        raise Refused(f"cannot write {output}: {error.strerror}") from None
    finally:
        if temporary is not None:
            try:
                os.unlink(temporary)
            except OSError:
                pass
