// Build-time tool: draws the desktop icons from the program's own 26x26 icon
// (a PAM file, RGB_ALPHA), one PNG per size, for the hicolor theme.
//   icongen ICON.pam OUTDIR SIZE...   -> OUTDIR/SIZExSIZE.png
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

GdkPixbuf* read_pam(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    int width = 0, height = 0, depth = 0, maxval = 0;
    if (!std::getline(in, line) || line != "P7")
        return nullptr;
    while (std::getline(in, line) && line != "ENDHDR") {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "WIDTH") words >> width;
        else if (key == "HEIGHT") words >> height;
        else if (key == "DEPTH") words >> depth;
        else if (key == "MAXVAL") words >> maxval;
    }
    if (width <= 0 || height <= 0 || depth != 4 || maxval != 255)
        return nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y)
        if (!in.read(reinterpret_cast<char*>(pixels + y * rowstride), 4 * width)) {
            g_object_unref(pixbuf);
            return nullptr;
        }
    return pixbuf;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: icongen ICON.pam OUTDIR SIZE...\n");
        return 2;
    }
    GdkPixbuf* icon = read_pam(argv[1]);
    if (!icon) {
        std::fprintf(stderr, "icongen: %s is not a 8-bit RGB_ALPHA PAM file\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        int size = std::atoi(argv[i]);
        if (size <= 0)
            return 2;
        // Smaller sizes keep the picture's few pixels sharp; larger ones are
        // smoothed rather than blown up into blocks.
        GdkInterpType interp = size <= 26 ? GDK_INTERP_BILINEAR : GDK_INTERP_HYPER;
        GdkPixbuf* scaled = gdk_pixbuf_scale_simple(icon, size, size, interp);
        std::string out = std::string(argv[2]) + "/" + std::to_string(size) + "x" + std::to_string(size) + ".png";
        GError* error = nullptr;
        if (!gdk_pixbuf_save(scaled, out.c_str(), "png", &error, nullptr)) {
            std::fprintf(stderr, "icongen: %s: %s\n", out.c_str(), error ? error->message : "");
            return 1;
        }
        g_object_unref(scaled);
    }
    g_object_unref(icon);
    return 0;
}
