# Reference conversions for the colour tests: PIL's ImageCms (littleCMS) over raw pixel files.
# usage: iccref.py SRC_PROFILE DST_PROFILE IN_MODE OUT_MODE COUNT IN_FILE OUT_FILE
# The platform module evaluates the profiles' pipelines directly, without littleCMS's precalculated
# device link; NOOPTIMIZE asks PIL for the same, so the two differ by rounding only (the precalculated
# link alone is up to 16 levels off in clipped dark CMYK colours).
import sys
from PIL import Image, ImageCms

src, dst, in_mode, out_mode, n, in_file, out_file = sys.argv[1:8]
n = int(n)
im = Image.frombytes(in_mode, (n, 1), open(in_file, 'rb').read())
t = ImageCms.buildTransform(src, dst, in_mode, out_mode, renderingIntent=0,
                            flags=ImageCms.Flags.NOOPTIMIZE if hasattr(ImageCms, 'Flags') else 0x0100)
open(out_file, 'wb').write(ImageCms.applyTransform(im, t).tobytes())
