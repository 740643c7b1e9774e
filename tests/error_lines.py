"""Which of the program's error texts the linking card shows: the window's error line is compared with
the program's own drawing of every candidate text (error_line_reference.exe) at the window's size."""
import os
import shutil
import subprocess
import tempfile

from window_support import TOOLS, Layout, Shot, error_ink, overlap, prefix_env

TEXTS = {
    "connect": "No se pudo conectar con el servicio de la comunidad. Pulsa Reintentar.",
    "redirect": "El servicio devolvió una redirección no permitida.",
    "expired": "La sesión ha caducado. Pulsa Reintentar para renovarla.",
    "conflict": "Esta cuenta ya está vinculada a otra sesión. Contacta con administración.",
    "too_many": "Demasiadas solicitudes. Espera unos segundos y vuelve a intentarlo.",
    "unavailable": "El servicio de vinculación no está disponible. Vuelve a intentarlo.",
    "certificate": "No se pudo verificar el certificado del servicio.",
    "no_discord": "El administrador aún no ha configurado Discord",
    "bad_config": "La configuración del servicio no es válida.",
    "bad_session": "La sesión recibida no es válida.",
    "bad_status": "El estado de vinculación recibido no es válido.",
    "bad_url": "La dirección de vinculación recibida no es válida.",
    "not_saved": "No se pudo guardar la sesión protegida en la carpeta del launcher.",
}
# Fewer inked pixels than this is no text at all.
INKED = 50


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


class ErrorLines:
    def __init__(self, test, reference_exe, width, height):
        folder = tempfile.mkdtemp(prefix="orvane-error-lines-")
        test.addCleanup(shutil.rmtree, folder, True)
        texts = os.path.join(folder, "texts.txt")
        with open(texts, "w", encoding="utf-8") as f:
            f.write("\n".join(TEXTS.values()) + "\n")
        done = subprocess.run([os.path.join(TOOLS, "wine-run"), reference_exe, str(width), str(height),
                               wine_path(texts), wine_path(os.path.join(folder, "line"))],
                              env=prefix_env(), capture_output=True, timeout=120)
        test.assertEqual(done.returncode, 0, "the error lines could not be drawn")
        self.layout = Layout(width, height)
        self.masks = {key: Shot.load(os.path.join(folder, f"line-{i + 1}.png")).crop(self.layout.error_line())
                      .mask(error_ink) for i, key in enumerate(TEXTS)}
        test.assertTrue(all(len(m) > INKED for m in self.masks.values()))

    def shown(self, shot):
        """(key of the text the error line shows, its overlap with the program's drawing of that text);
        (None, 0) when the line holds no error."""
        seen = shot.crop(self.layout.error_line()).mask(error_ink)
        if len(seen) <= INKED:
            return None, 0.0
        return max(((key, overlap(seen, mask)) for key, mask in self.masks.items()), key=lambda km: km[1])

    def showing(self, keys, least=0.8):
        """A screen check: the error line shows the text of keys (one key, or a tuple of keys)."""
        keys = (keys,) if isinstance(keys, str) else keys

        def ready(shot):
            found, score = self.shown(shot)
            return found in keys and score >= least
        return ready
