#include "demo.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace kmov::demo {

namespace {

constexpr double PI = 3.14159265358979323846;

// ---- Palette layout ------------------------------------------------------------

enum : uint8_t {
    BLACK = 0,
    GREY = 1, // 1 to 15: grey levels, 15 white
    WHITE = 15,
    SKY = 16, // 48 bands, top to horizon
    SKY_BANDS = 48,
    MOUNTAIN = 64, // 16 shades, light to dark
    HILL = 80,     // 16 shades, light to dark
    PLASMA = 96,   // 64 hues, a full circle
    BALL = 160,    // 32 shades, dark to highlight
    TILE_A = 192,  // 8 teal shades
    TILE_B = 200,  // 8 amber shades
    STATUS = 208,  // 8 status bar colours
    CREDITS_BG = 216,
    TICKER_BG = 217,
    PROGRESS = 218,
    FRAME_GREY = 219,
    YELLOW = 220,
    CYAN = 221,
    PINK = 222,
    SUN = 224,  // 8 shades, centre to rim
    STAR = 232, // 8 brightness levels
};

// ---- Layout --------------------------------------------------------------------

constexpr int SKY_BOTTOM = 260; // the sky's gradient ends here, behind mountains and hills
constexpr int TICKER_TOP = 334, TICKER_BOTTOM = 358;
constexpr int PANEL_TOP = 362, PANEL_BOTTOM = 454;
constexpr int PLASMA_LEFT = 10, PLASMA_RIGHT = 214;
constexpr int TILE_A_LEFT = 224, TILE_A_RIGHT = 322;
constexpr int TILE_B_LEFT = 332, TILE_B_RIGHT = 422;
constexpr int CREDITS_LEFT = 432, CREDITS_RIGHT = 630;
constexpr int STATUS_TOP = 458;
constexpr int BALL_RADIUS = 18;
constexpr int BALL_FLOOR = 330;   // lowest row of the ball
constexpr int BOUNCE_PERIOD = 24; // frames between two touches of the ground
constexpr int SUN_X = 540, SUN_Y = 62, SUN_RADIUS = 34;

Rgb mix(Rgb a, Rgb b, double t) {
    auto lerp = [t](uint8_t x, uint8_t y) {
        return static_cast<uint8_t>(std::lround(x + (static_cast<double>(y) - x) * t));
    };
    return {lerp(a.r, b.r), lerp(a.g, b.g), lerp(a.b, b.b)};
}

Rgb hsv(double hue, double saturation, double value) {
    double h = std::fmod(hue, 360.0) / 60.0;
    double c = value * saturation;
    double x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1));
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h)) {
    case 0:
        r = c, g = x;
        break;
    case 1:
        r = x, g = c;
        break;
    case 2:
        g = c, b = x;
        break;
    case 3:
        g = x, b = c;
        break;
    case 4:
        r = x, b = c;
        break;
    default:
        r = c, b = x;
        break;
    }
    double m = value - c;
    auto byte = [m](double v) { return static_cast<uint8_t>(std::lround((v + m) * 255)); };
    return {byte(r), byte(g), byte(b)};
}

// ---- Text ------------------------------------------------------------------------

// 5 x 7 glyphs, one 5-bit row each, top row first, bit 4 leftmost.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows;
};
constexpr Glyph GLYPHS[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0x00, 0x04}},
    {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
};

const Glyph *glyph(char c) {
    for (const Glyph &g : GLYPHS)
        if (g.c == c)
            return &g;
    return nullptr; // a blank
}

struct Clip {
    int left, top, right, bottom; // right and bottom exclusive
};

class Canvas {
  public:
    Canvas() : pixels_(static_cast<size_t>(WIDTH) * HEIGHT, BLACK) {}
    void set(int x, int y, uint8_t colour) {
        if (x >= 0 && x < WIDTH && y >= 0 && y < HEIGHT)
            pixels_[static_cast<size_t>(y) * WIDTH + x] = colour;
    }
    void fill(int left, int top, int right, int bottom, uint8_t colour) {
        for (int y = std::max(top, 0); y < std::min(bottom, HEIGHT); y++)
            for (int x = std::max(left, 0); x < std::min(right, WIDTH); x++)
                pixels_[static_cast<size_t>(y) * WIDTH + x] = colour;
    }
    // Text in the 5 x 7 font, `scale` pixels a dot, 6 dots a character.
    void text(int x, int y, std::string_view s, int scale, uint8_t colour, const Clip &clip) {
        for (char c : s) {
            if (const Glyph *g = glyph(c)) {
                for (int row = 0; row < 7; row++)
                    for (int col = 0; col < 5; col++)
                        if (g->rows[row] & (0x10 >> col))
                            for (int dy = 0; dy < scale; dy++)
                                for (int dx = 0; dx < scale; dx++) {
                                    int px = x + col * scale + dx, py = y + row * scale + dy;
                                    if (px >= clip.left && px < clip.right && py >= clip.top &&
                                        py < clip.bottom)
                                        set(px, py, colour);
                                }
            }
            x += 6 * scale;
        }
    }
    std::vector<uint8_t> take() { return std::move(pixels_); }

  private:
    std::vector<uint8_t> pixels_;
};

// A small integer hash, for star positions and twinkles.
uint32_t hash(uint32_t a, uint32_t b) {
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

// ---- Scene parts -------------------------------------------------------------------

int mountain_ridge(int world_x) {
    double x = world_x;
    return static_cast<int>(std::lround(188 + 24 * std::sin(x / 53.0) +
                                        13 * std::sin(x / 23.0 + 1) + 5 * std::sin(x / 9.0 + 2)));
}

int hill_ridge(int world_x) {
    double x = world_x;
    return static_cast<int>(
        std::lround(284 + 17 * std::sin(x / 71.0) + 9 * std::sin(x / 31.0 + 0.5)));
}

void draw_sky(Canvas &canvas, int frame) {
    for (int y = 0; y < TICKER_TOP; y++)
        canvas.fill(
            0, y, WIDTH, y + 1,
            static_cast<uint8_t>(SKY + std::min(y, SKY_BOTTOM - 1) * SKY_BANDS / SKY_BOTTOM));
    // The sun: shaded by the distance from its centre.
    for (int y = SUN_Y - SUN_RADIUS; y <= SUN_Y + SUN_RADIUS; y++)
        for (int x = SUN_X - SUN_RADIUS; x <= SUN_X + SUN_RADIUS; x++) {
            double d = std::hypot(x - SUN_X, y - SUN_Y) / SUN_RADIUS;
            if (d <= 1.0)
                canvas.set(x, y, static_cast<uint8_t>(SUN + std::min(7, static_cast<int>(d * 8))));
        }
    // Stars that twinkle, changing every other frame.
    for (uint32_t i = 0; i < 72; i++) {
        int x = static_cast<int>(hash(i, 1) % WIDTH);
        int y = static_cast<int>(4 + hash(i, 2) % 140);
        if (std::hypot(x - SUN_X, y - SUN_Y) < SUN_RADIUS + 12)
            continue;
        uint8_t level =
            static_cast<uint8_t>(STAR + hash(i, 100 + static_cast<uint32_t>(frame / 2)) % 8);
        canvas.set(x, y, level);
        if (i % 6 == 0) { // a few bigger ones
            canvas.set(x + 1, y, level);
            canvas.set(x, y + 1, level);
            canvas.set(x + 1, y + 1, level);
        }
    }
}

// Far mountains: one pixel a frame to the left, shaded by depth below the
// ridge, snow on the high peaks.
void draw_mountains(Canvas &canvas, int frame) {
    for (int x = 0; x < WIDTH; x++) {
        int ridge = mountain_ridge(x + frame);
        for (int y = ridge; y < TICKER_TOP; y++) {
            int depth = y - ridge;
            uint8_t colour = static_cast<uint8_t>(MOUNTAIN + std::min(15, depth / 5));
            if (ridge < 176 && depth < 5)
                colour = static_cast<uint8_t>(GREY + 13 - depth);
            canvas.set(x, y, colour);
        }
    }
}

// Near hills: two pixels a frame to the left, flat bands of colour by row.
void draw_hills(Canvas &canvas, int frame) {
    for (int x = 0; x < WIDTH; x++) {
        int ridge = hill_ridge(x + 2 * frame);
        for (int y = ridge; y < TICKER_TOP; y++)
            canvas.set(x, y, static_cast<uint8_t>(HILL + std::min(15, (y - 262) / 5)));
    }
}

void draw_ball(Canvas &canvas, int frame) {
    double cx = 40 + frame * 5.6;
    double height = 118 * std::fabs(std::sin(PI * frame / BOUNCE_PERIOD));
    double cy = BALL_FLOOR - BALL_RADIUS - height;
    // Squashed a little when it touches the ground.
    double squash = frame % BOUNCE_PERIOD == 0 ? 0.8 : 1.0;
    for (int y = static_cast<int>(cy - BALL_RADIUS); y <= static_cast<int>(cy + BALL_RADIUS) + 1;
         y++)
        for (int x = static_cast<int>(cx - BALL_RADIUS - 4);
             x <= static_cast<int>(cx + BALL_RADIUS + 4); x++) {
            double dx = (x - cx) / (BALL_RADIUS / squash), dy = (y - cy) / (BALL_RADIUS * squash);
            double r2 = dx * dx + dy * dy;
            if (r2 > 1.0)
                continue;
            // Lit from the upper left.
            double nz = std::sqrt(1.0 - r2);
            double light = std::max(0.0, (-0.45 * dx - 0.55 * dy + 0.70 * nz));
            canvas.set(x, y,
                       static_cast<uint8_t>(BALL + std::min(31, static_cast<int>(light * 32))));
        }
}

void draw_ticker(Canvas &canvas, int frame) {
    canvas.fill(0, TICKER_TOP, WIDTH, TICKER_BOTTOM, TICKER_BG);
    static constexpr std::string_view TEXT =
        "KMOV DEMO - A SELF-PLAYING MOVIE, RENDERED AND SCORED BY ITS OWN CODE. "
        "CLICK TO PAUSE, CLICK AGAIN TO GO ON.";
    canvas.text(8 - frame, TICKER_TOP + 5, TEXT, 2, YELLOW, {0, TICKER_TOP, WIDTH, TICKER_BOTTOM});
}

void draw_panel_frame(Canvas &canvas, int left, int right) {
    canvas.fill(left - 2, PANEL_TOP - 2, right + 2, PANEL_TOP, FRAME_GREY);
    canvas.fill(left - 2, PANEL_BOTTOM, right + 2, PANEL_BOTTOM + 2, FRAME_GREY);
    canvas.fill(left - 2, PANEL_TOP, left, PANEL_BOTTOM, FRAME_GREY);
    canvas.fill(right, PANEL_TOP, right + 2, PANEL_BOTTOM, FRAME_GREY);
}

void draw_plasma(Canvas &canvas, int frame) {
    double t = frame * 0.21;
    for (int y = PANEL_TOP; y < PANEL_BOTTOM; y++)
        for (int x = PLASMA_LEFT; x < PLASMA_RIGHT; x++) {
            double u = x - PLASMA_LEFT, v = y - PANEL_TOP;
            double value = std::sin(u / 13.0 + t) + std::sin(v / 9.0 - 1.3 * t) +
                           std::sin((u + v) / 17.0 + 0.7 * t) +
                           std::sin(std::hypot(u - 100 - 40 * std::sin(t), v - 46) / 8.0 - t);
            int hue = static_cast<int>(std::floor((value + 4) * 16)) + frame * 2;
            canvas.set(x, y, static_cast<uint8_t>(PLASMA + ((hue % 64) + 64) % 64));
        }
}

// Tiles with diagonal stripes; (u, v) is the pattern coordinate.
uint8_t tile(int u, int v, int stripe_sum) {
    int base = (((u >> 4) ^ (v >> 4)) & 1) ? TILE_A : TILE_B;
    int stripe = ((stripe_sum >> 2) & 7);
    return static_cast<uint8_t>(base + stripe);
}

// Panel A moves up and to the left by one pixel and one row a frame, panel B
// up and to the right. Their stripes run so that each row is the row above
// shifted by one pixel.
void draw_tiles(Canvas &canvas, int frame) {
    for (int y = PANEL_TOP; y < PANEL_BOTTOM; y++) {
        for (int x = TILE_A_LEFT; x < TILE_A_RIGHT; x++) {
            int u = x + frame + 1000, v = y + frame + 1000;
            canvas.set(x, y, tile(u, v, u + v));
        }
        for (int x = TILE_B_LEFT; x < TILE_B_RIGHT; x++) {
            int u = x - frame + 1000, v = y + frame + 1000;
            canvas.set(x, y, tile(u, v, u - v + 4000));
        }
    }
}

// The credits move up by one row a frame.
void draw_credits(Canvas &canvas, int frame) {
    canvas.fill(CREDITS_LEFT, PANEL_TOP, CREDITS_RIGHT, PANEL_BOTTOM, CREDITS_BG);
    static constexpr std::string_view LINES[] = {
        "KMOV DEMO",
        "",
        "640 X 480",
        "15 FRAMES/S",
        "240 COLOURS",
        "",
        "22050 HZ",
        "4-BIT SOUND",
        "",
        "SKIPS",
        "FILLS",
        "COPIES",
        "LITERALS",
        "",
        "CLICK: PAUSE",
        "CLICK: GO ON",
        "",
        "THE END",
    };
    const uint8_t colours[] = {YELLOW, CYAN, PINK, WHITE};
    int y = PANEL_TOP + 8 - frame;
    int line = 0;
    for (std::string_view text : LINES) {
        canvas.text(CREDITS_LEFT + 10, y, text, 2, colours[line % 4],
                    {CREDITS_LEFT, PANEL_TOP, CREDITS_RIGHT, PANEL_BOTTOM});
        y += 20;
        line++;
    }
}

void draw_status(Canvas &canvas, int frame) {
    canvas.fill(0, STATUS_TOP, WIDTH, HEIGHT, static_cast<uint8_t>(STATUS + (frame / 8) % 8));
    int progress = (frame + 1) * 400 / FRAME_COUNT;
    canvas.fill(10, STATUS_TOP + 6, 10 + progress, STATUS_TOP + 16, PROGRESS);
    char label[32];
    std::snprintf(label, sizeof label, "FRAME %02d/%02d", frame + 1, FRAME_COUNT);
    canvas.text(440, STATUS_TOP + 4, label, 2, WHITE, {0, STATUS_TOP, WIDTH, HEIGHT});
}

} // namespace

Palette palette() {
    Palette p{};
    p[BLACK] = {0, 0, 0};
    for (int i = 1; i <= 15; i++)
        p[GREY - 1 + i] = {static_cast<uint8_t>(i * 17), static_cast<uint8_t>(i * 17),
                           static_cast<uint8_t>(i * 17)};
    const Rgb top{10, 14, 48}, middle{86, 42, 118}, horizon{250, 154, 72};
    for (int i = 0; i < SKY_BANDS; i++) {
        double t = static_cast<double>(i) / (SKY_BANDS - 1);
        p[SKY + i] =
            t < 0.55 ? mix(top, middle, t / 0.55) : mix(middle, horizon, (t - 0.55) / 0.45);
    }
    for (int i = 0; i < 16; i++) {
        p[MOUNTAIN + i] = mix({150, 140, 205}, {38, 30, 78}, i / 15.0);
        p[HILL + i] = mix({78, 160, 64}, {10, 48, 22}, i / 15.0);
    }
    for (int i = 0; i < 64; i++)
        p[PLASMA + i] = hsv(i * 360.0 / 64, 0.85, 1.0);
    for (int i = 0; i < 32; i++)
        p[BALL + i] = i < 26 ? mix({46, 0, 12}, {236, 40, 52}, i / 25.0)
                             : mix({236, 40, 52}, {255, 236, 236}, (i - 25) / 6.0);
    for (int i = 0; i < 8; i++) {
        p[TILE_A + i] = mix({0, 78, 92}, {70, 210, 196}, i / 7.0);
        p[TILE_B + i] = mix({118, 56, 0}, {252, 196, 64}, i / 7.0);
        p[STATUS + i] = hsv(200 + i * 45.0, 0.45, 0.42);
        p[SUN + i] = mix({255, 255, 214}, {255, 164, 36}, i / 7.0);
        p[STAR + i] = mix({64, 64, 96}, {255, 255, 255}, i / 7.0);
    }
    p[CREDITS_BG] = {20, 24, 42};
    p[TICKER_BG] = {34, 10, 34};
    p[PROGRESS] = {92, 222, 124};
    p[FRAME_GREY] = {132, 132, 142};
    p[YELLOW] = {255, 222, 84};
    p[CYAN] = {122, 222, 255};
    p[PINK] = {255, 142, 204};
    p[223] = {255, 255, 255};
    return p;
}

std::vector<uint8_t> render_frame(int index) {
    Canvas canvas;
    draw_sky(canvas, index);
    draw_mountains(canvas, index);
    draw_hills(canvas, index);
    draw_ball(canvas, index);
    draw_ticker(canvas, index);
    draw_panel_frame(canvas, PLASMA_LEFT, PLASMA_RIGHT);
    draw_panel_frame(canvas, TILE_A_LEFT, TILE_A_RIGHT);
    draw_panel_frame(canvas, TILE_B_LEFT, TILE_B_RIGHT);
    draw_panel_frame(canvas, CREDITS_LEFT, CREDITS_RIGHT);
    draw_plasma(canvas, index);
    draw_tiles(canvas, index);
    draw_credits(canvas, index);
    draw_status(canvas, index);
    return canvas.take();
}

std::vector<int> bounce_frames() {
    std::vector<int> frames;
    for (int f = 0; f < FRAME_COUNT; f += BOUNCE_PERIOD)
        frames.push_back(f);
    return frames;
}

std::vector<int16_t> synthesize_sound() {
    const int64_t total = frame_sample(FRAME_COUNT);
    const double rate = SAMPLE_RATE;
    std::vector<double> mixed(static_cast<size_t>(total), 0.0);
    auto add_note = [&](int64_t start, double frequency, double seconds, double amplitude,
                        double decay, double second_harmonic) {
        int64_t length = static_cast<int64_t>(seconds * rate);
        for (int64_t i = 0; i < length && start + i < total; i++) {
            double t = i / rate;
            double envelope = std::min(1.0, t / 0.005) * std::exp(-t / decay);
            double phase = 2 * PI * frequency * t;
            mixed[static_cast<size_t>(start + i)] +=
                amplitude * envelope * (std::sin(phase) + second_harmonic * std::sin(2 * phase));
        }
    };
    // The tune: a note every four frames on a pentatonic scale, a bass note
    // every eight.
    static constexpr double SCALE[] = {440.00, 523.25, 587.33, 659.25, 783.99, 880.00};
    static constexpr int TUNE[] = {0, 2, 4, 5, 4, 2, 3, 1, 0, 2, 4, 3,
                                   5, 4, 2, 0, 1, 3, 4, 5, 3, 2, 1, 0};
    static constexpr double BASS[] = {110.00, 87.31, 130.81, 98.00};
    // The tune starts after the first thump and a stretch of exact silence.
    const int64_t lead_in = SAMPLE_RATE * 9 / 20;
    for (int n = 0; 4 * n < FRAME_COUNT - 8; n++) {
        int64_t start = frame_sample(4 * n) + lead_in;
        add_note(start, SCALE[TUNE[n % 24]], 0.5, 5200, 0.16, 0.3);
        if (n % 2 == 0)
            add_note(start, BASS[(n / 4) % 4], 0.9, 3000, 0.35, 0.5);
    }
    // A thump each time the ball touches the ground: a falling tone and a
    // short burst of noise.
    uint32_t noise = 0x12345678u;
    for (int frame : bounce_frames()) {
        int64_t start = frame_sample(frame);
        for (int64_t i = 0; i < SAMPLE_RATE / 4 && start + i < total; i++) {
            double t = i / rate;
            // 155 Hz falling to 45 Hz: the phase is the integral of the frequency.
            double phase = 2 * PI * (45 * t + 110 * 0.04 * (1 - std::exp(-t / 0.04)));
            double taper = 1.0 - t / 0.25; // ends at exactly nothing
            noise = noise * 1664525u + 1013904223u;
            double white = (static_cast<int32_t>(noise) / 2147483648.0);
            mixed[static_cast<size_t>(start + i)] +=
                taper * (9000 * std::exp(-t / 0.06) * std::sin(phase) +
                         2600 * std::exp(-t / 0.008) * white);
        }
    }
    // Silence after the fade at the end too, so the coder's runs get used.
    const int64_t fade_end = total - SAMPLE_RATE / 4;
    const int64_t fade_start = fade_end - SAMPLE_RATE / 2;
    std::vector<int16_t> samples(static_cast<size_t>(total), 0);
    for (int64_t i = 0; i < total; i++) {
        double gain = i < fade_start ? 1.0
                      : i < fade_end ? static_cast<double>(fade_end - i) / (fade_end - fade_start)
                                     : 0.0;
        double v = std::clamp(mixed[static_cast<size_t>(i)] * gain, -24000.0, 24000.0);
        samples[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(v));
    }
    return samples;
}

} // namespace kmov::demo
