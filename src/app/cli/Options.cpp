// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/Options.h"

#include "audio/FileProbe.h"
#include "audio/NaturalOrder.h"
#include "platform/FilePath.h"

#include <QCommandLineParser>

#include <algorithm>
#include <array>
#include <optional>

namespace cli {
namespace {

// The bitrates the output wizard offers, in kbps.
constexpr std::array kMp3Kbps{32, 64, 96, 128, 192, 256, 320};
constexpr std::array kWmaKbps{48, 64, 80, 96, 128, 160};
constexpr int kM4bMinKbps = 32;
constexpr int kM4bMaxKbps = 320;

std::optional<join::OutputKind> KindOf(const QString& name) {
    const QString lower = name.toLower();
    if (lower == QLatin1String("wav")) {
        return join::OutputKind::Wav;
    }
    if (lower == QLatin1String("mp3")) {
        return join::OutputKind::Mp3;
    }
    if (lower == QLatin1String("wma")) {
        return join::OutputKind::Wma;
    }
    if (lower == QLatin1String("flac")) {
        return join::OutputKind::Flac;
    }
    if (lower == QLatin1String("m4b") || lower == QLatin1String("m4a")) {
        return join::OutputKind::M4b;
    }
    if (lower == QLatin1String("opus")) {
        return join::OutputKind::Opus;
    }
    return std::nullopt;
}

template <std::size_t N>
QString ListText(const std::array<int, N>& values) {
    QStringList texts;
    for (const int value : values) {
        texts << QString::number(value);
    }
    return texts.join(QLatin1Char(' '));
}

template <std::size_t N>
bool Contains(const std::array<int, N>& values, int value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

ParsedCommandLine UsageError(const QString& error) {
    ParsedCommandLine parsed;
    parsed.error = error;
    return parsed;
}

}  // namespace

QString UsageText() {
    return QStringLiteral(
        "Usage: wavestitch-join [OPTIONS] -o OUTPUT INPUT...\n"
        "       wavestitch-join --info INPUT...\n"
        "Joins WAV, MP3, WMA, FLAC, Ogg Vorbis, Opus, M4A and AIFF files, in the order given, into one\n"
        "WAV, MP3, WMA, FLAC, M4B/M4A (AAC) or Opus file.\n"
        "\n"
        "  -o, --output FILE     the output file; - writes to standard output (give -f)\n"
        "  -f, --format FMT      wav, mp3, wma, flac, m4b, m4a or opus; by default taken from the\n"
        "                        output's extension\n"
        "  -b, --bitrate KBPS    MP3: 32 64 96 128 192 256 320 (default 128);\n"
        "                        WMA: 48 64 80 96 128 160 (default 96);\n"
        "                        M4B/M4A: 32 to 320 (default 64 for mono, 128 for stereo);\n"
        "                        Opus: 6 to 256 (default 64 for mono, 96 for stereo)\n"
        "      --crc --copyright --original --private     the MP3 flags\n"
        "      --sort[=add]      order the inputs as the program's Add button does: by full path,\n"
        "                        ignoring case (by default they keep the order given)\n"
        "      --sort=natural    order them by folder, then file name, ignoring case, with numbers by\n"
        "                        value: \"Part 2\" before \"part10\"\n"
        "      --tags=WHICH      the output's title, artist, album, album artist, year, genre, track\n"
        "                        and front cover: first (default: each from the first input that has\n"
        "                        it), N (from input N as joined) or none\n"
        "      --chapters        a chapter where each input begins: MP3 ID3v2 chapters, WMA markers,\n"
        "                        WAV cue points with labels, FLAC and Opus CHAPTERxxx comments, M4B\n"
        "                        chapters (a QuickTime chapter track and Nero chapters); titled by the\n"
        "                        input's title or file name (a FLAC, Ogg, Opus or M4A input with\n"
        "                        chapters brings its own)\n"
        "      --cue FILE        also write a cue sheet for the output (UTF-8)\n"
        "      --overwrite       replace an existing output (by default an existing output is an error)\n"
        "      --copy            join MP3 files of one MPEG version, rate and channel count frame for\n"
        "                        frame, without re-encoding, behind one new tag frame (MP3 output)\n"
        "  -q, --quiet           only the joiner's errors: no progress, no notes, nothing from FFmpeg\n"
        "      --info            print each input's row and the target format; join nothing\n"
        "  -h, --help            this text\n"
        "      --version         the version\n"
        "\n"
        "Inputs are told by their extension, in any case; another extension is refused, and so is a file\n"
        "whose content is not what its extension says:\n"
        "  .wav  integer PCM of 8, 16, 24 or 32 bits or IEEE float of 32 or 64 bits, in a plain or an\n"
        "        extensible format chunk, at up to 768000 Hz, that chunk first (after a JUNK or ds64\n"
        "        chunk); A-law, u-law, ADPCM and MP3 inside are refused\n"
        "  .mp3  MPEG audio that libmpg123 reads: layer III, also layers I and II\n"
        "  .wma  an ASF file with audio that FFmpeg decodes: WMA, also MP3 or PCM\n"
        "  .flac FLAC; .ogg .oga Ogg Vorbis, Opus or FLAC; .opus Opus; .m4a .m4b .mp4 AAC or ALAC\n"
        "        without video; .aif .aiff .aifc AIFF or AIFF-C: decoded by FFmpeg, their length exact\n"
        "        where the file states it; a lossless one at its own depth (24, 32 bits, float), a\n"
        "        lossy one (Vorbis, Opus, AAC) dithered to 16 bits. With --chapters, an input's own\n"
        "        chapters are kept\n"
        "\n"
        "The output has the highest rate, channel count and bits among the inputs; any float input makes it\n"
        "32-bit float. MP3 and WMA are encoded from 16 bits: deeper audio is brought down with triangular\n"
        "(TPDF) dither, the same on every run, and float samples beyond full scale are clipped there, with\n"
        "a note saying how many.\n"
        "\n"
        "A FIFO, character device or socket is written in place; a WAV that cannot be seeked in gets\n"
        "0xFFFFFFFF sizes, or its real ones when chunks follow its data (RF64 above 4 GiB); WMA needs a\n"
        "file it can seek in. FLAC keeps the joined samples exactly, in the join's format (a float join\n"
        "as 24 bits, dithered and clipped as for MP3); one that cannot be seeked in has no seek table\n"
        "and no MD5 signature.\n"
        "\n"
        "M4B and M4A are AAC-LC in MP4, by FFmpeg's AAC encoder, with the index before the audio (so\n"
        "the output must be a file it can seek in, never standard output) and the encoder's priming\n"
        "in an edit list; more than two channels are mixed to stereo, and the join's rate must be one\n"
        "AAC has (7350 to 96000 Hz). .m4b is marked as an audiobook, .m4a (or -f m4a) as music.\n"
        "\n"
        "Opus is Ogg Opus by libopus at complexity 10, always 48 kHz: other rates are resampled (SoX\n"
        "resampler), and the decoded length is the joined length exactly. More than two channels are\n"
        "mixed to stereo; tags, cover and chapters are Vorbis comments. It can be written to standard\n"
        "output.\n"
        "\n"
        "Exit status: 0 joined; 1 the join failed; 2 a usage error, a refused output or a rejected input\n"
        "(nothing is written); 130 interrupted (an output file is left as it was).\n");
}

ParsedCommandLine ParseCommandLine(const QStringList& given) {
    // --sort takes an optional value, which the parser has no way to say: --sort=WHICH is taken
    // out before it parses.
    QStringList arguments;
    std::optional<InputOrder> order;
    for (qsizetype i = 0; i < given.size(); ++i) {
        const QString& argument = given.at(i);
        if (argument == QLatin1String("--")) {
            arguments << given.mid(i);
            break;
        }
        if (!argument.startsWith(QLatin1String("--sort="))) {
            arguments << argument;
            continue;
        }
        const QString which = argument.mid(7);
        if (which == QLatin1String("natural")) {
            order = InputOrder::Natural;
        } else if (which == QLatin1String("add")) {
            order = InputOrder::Add;
        } else {
            return UsageError(
                QStringLiteral("unknown order '%1': use --sort, --sort=add or --sort=natural").arg(which));
        }
    }
    QCommandLineParser parser;
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, {},
                                    QStringLiteral("FILE"));
    const QCommandLineOption format({QStringLiteral("f"), QStringLiteral("format")}, {},
                                    QStringLiteral("FMT"));
    const QCommandLineOption bitrate({QStringLiteral("b"), QStringLiteral("bitrate")}, {},
                                     QStringLiteral("KBPS"));
    const QCommandLineOption crc(QStringLiteral("crc"));
    const QCommandLineOption copyright(QStringLiteral("copyright"));
    const QCommandLineOption original(QStringLiteral("original"));
    const QCommandLineOption privateFlag(QStringLiteral("private"));
    const QCommandLineOption sort(QStringLiteral("sort"));
    const QCommandLineOption tags(QStringLiteral("tags"), {}, QStringLiteral("WHICH"));
    const QCommandLineOption chapters(QStringLiteral("chapters"));
    const QCommandLineOption cue(QStringLiteral("cue"), {}, QStringLiteral("FILE"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"));
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption info(QStringLiteral("info"));
    const QCommandLineOption copy(QStringLiteral("copy"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({output, format, bitrate, crc, copyright, original, privateFlag, sort, tags, chapters,
                       cue, overwrite, quiet, info, copy, help, version});
    if (!parser.parse(arguments)) {
        return UsageError(parser.errorText());
    }

    ParsedCommandLine parsed;
    if (parser.isSet(help)) {
        parsed.action = ParsedCommandLine::Action::Help;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.action = ParsedCommandLine::Action::Version;
        return parsed;
    }
    JoinOptions& o = parsed.options;
    o.inputs = parser.positionalArguments();
    o.order = order.value_or(parser.isSet(sort) ? InputOrder::Add : InputOrder::Given);
    o.quiet = parser.isSet(quiet);
    o.info = parser.isSet(info);
    if (o.inputs.isEmpty()) {
        return UsageError(QStringLiteral("no input files"));
    }
    if (o.info) {
        for (const QCommandLineOption* joinOnly : {&output, &format, &bitrate, &crc, &copyright, &original,
                                                   &privateFlag, &tags, &chapters, &cue, &overwrite, &copy}) {
            if (parser.isSet(*joinOnly)) {
                return UsageError(QStringLiteral("--info joins nothing and takes no --%1")
                                      .arg(joinOnly->names().constLast()));
            }
        }
        parsed.action = ParsedCommandLine::Action::Info;
        return parsed;
    }

    o.output = parser.value(output);
    if (o.output.isEmpty()) {
        return UsageError(QStringLiteral("no output file: give -o FILE"));
    }
    if (o.output == QLatin1String("-") && !parser.isSet(format)) {
        return UsageError(
            QStringLiteral("standard output (-o -) has no extension: give -f wav, mp3, wma, flac or opus"));
    }
    const QString formatName = parser.isSet(format) ? parser.value(format) : FileExtension(o.output).mid(1);
    const std::optional<join::OutputKind> kind = KindOf(formatName);
    if (!kind) {
        return UsageError(
            parser.isSet(format)
                ? QStringLiteral("unknown format '%1': use wav, mp3, wma, flac, m4b, m4a or opus")
                      .arg(formatName)
                : QStringLiteral(
                      "cannot tell the format from '%1': give -f wav, mp3, wma, flac, m4b, m4a or opus")
                      .arg(o.output));
    }
    o.kind = *kind;
    o.m4bMusic = formatName.toLower() == QLatin1String("m4a");
    if (o.kind == join::OutputKind::M4b && o.output == QLatin1String("-")) {
        return UsageError(
            QStringLiteral("M4B/M4A output is rewritten at the end to put its index first: give -o FILE, not "
                           "standard output"));
    }
    o.copy = parser.isSet(copy);
    if (o.copy && o.kind != join::OutputKind::Mp3) {
        return UsageError(QStringLiteral("--copy writes MP3: name an .mp3 output or give -f mp3"));
    }
    for (const QCommandLineOption* setting : {&bitrate, &crc, &copyright, &original, &privateFlag}) {
        if (o.copy && parser.isSet(*setting)) {
            return UsageError(QStringLiteral("--copy keeps the inputs' frames as they are and takes no --%1")
                                  .arg(setting->names().constLast()));
        }
    }

    if (parser.isSet(bitrate)) {
        bool number = false;
        const int kbps = parser.value(bitrate).toInt(&number);
        if (o.kind == join::OutputKind::Wav || o.kind == join::OutputKind::Flac) {
            return UsageError(
                QStringLiteral("%1 output has no bitrate")
                    .arg(o.kind == join::OutputKind::Wav ? QStringLiteral("WAV") : QStringLiteral("FLAC")));
        }
        if (o.kind == join::OutputKind::M4b) {
            if (!number || kbps < kM4bMinKbps || kbps > kM4bMaxKbps) {
                return UsageError(QStringLiteral("M4B bitrate '%1': use %2 to %3")
                                      .arg(parser.value(bitrate))
                                      .arg(kM4bMinKbps)
                                      .arg(kM4bMaxKbps));
            }
            o.m4bKbps = kbps;
        } else if (o.kind == join::OutputKind::Opus) {
            if (!number || kbps < join::kOpusMinKbps || kbps > join::kOpusMaxKbps) {
                return UsageError(QStringLiteral("Opus bitrate '%1': use %2 to %3")
                                      .arg(parser.value(bitrate))
                                      .arg(join::kOpusMinKbps)
                                      .arg(join::kOpusMaxKbps));
            }
            o.opusKbps = kbps;
        } else {
            const bool mp3 = o.kind == join::OutputKind::Mp3;
            if (!number || (mp3 ? !Contains(kMp3Kbps, kbps) : !Contains(kWmaKbps, kbps))) {
                return UsageError(QStringLiteral("%1 bitrate '%2': use one of %3")
                                      .arg(mp3 ? QStringLiteral("MP3") : QStringLiteral("WMA"),
                                           parser.value(bitrate),
                                           mp3 ? ListText(kMp3Kbps) : ListText(kWmaKbps)));
            }
            (mp3 ? o.mp3Kbps : o.wmaKbps) = kbps;
        }
    }
    for (const QCommandLineOption* flag : {&crc, &copyright, &original, &privateFlag}) {
        if (parser.isSet(*flag) && o.kind != join::OutputKind::Mp3) {
            return UsageError(QStringLiteral("--%1 is a flag of MP3 output").arg(flag->names().constFirst()));
        }
    }
    o.crc = parser.isSet(crc);
    o.copyright = parser.isSet(copyright);
    o.original = parser.isSet(original);
    o.privateFlag = parser.isSet(privateFlag);
    o.overwrite = parser.isSet(overwrite);
    if (parser.isSet(tags)) {
        const QString which = parser.value(tags);
        bool number = false;
        const int input = which.toInt(&number);
        if (which == QLatin1String("first")) {
            o.tags = TagSource::First;
        } else if (which == QLatin1String("none")) {
            o.tags = TagSource::None;
        } else if (number && input >= 1 && input <= o.inputs.size()) {
            o.tags = TagSource::Input;
            o.tagsInput = input;
        } else {
            return UsageError(QStringLiteral("--tags '%1': use first, none or an input's number from 1 to %2")
                                  .arg(which)
                                  .arg(o.inputs.size()));
        }
    }
    o.chapters = parser.isSet(chapters);
    o.cue = parser.value(cue);
    if (parser.isSet(cue) && (o.cue.isEmpty() || o.output == QLatin1String("-"))) {
        return UsageError(o.cue.isEmpty()
                              ? QStringLiteral("--cue needs a file name")
                              : QStringLiteral("--cue names the output in the sheet: give -o FILE"));
    }
    parsed.action = ParsedCommandLine::Action::Join;
    return parsed;
}

join::JoinOutput OutputOf(const JoinOptions& options, const QString& path) {
    join::JoinOutput output;
    output.kind = options.kind;
    output.path = path;
    output.mp3Kbps = options.mp3Kbps;
    output.mp3Copyright = options.copyright;
    output.mp3Crc = options.crc;
    output.mp3Original = options.original;
    output.mp3Private = options.privateFlag;
    output.wmaBitrate = options.wmaKbps * 1000;
    output.m4bKbps = options.m4bKbps;
    output.m4bMusic = options.m4bMusic;
    output.opusKbps = options.opusKbps;
    // The joiner names its own hidden file, a FIFO, a device or a descriptor: it renames it itself.
    output.writeInPlace = true;
    return output;
}

QStringList InputPaths(const JoinOptions& options) {
    QStringList paths;
    for (const QString& input : options.inputs) {
        paths << platform::AbsolutePath(input);
    }
    if (options.order == InputOrder::Add) {
        SortPaths(paths);
    } else if (options.order == InputOrder::Natural) {
        SortPathsNaturally(paths);
    }
    return paths;
}

join::MetadataChoice MetadataOf(const JoinOptions& options) {
    return {options.tags, options.tagsInput, options.chapters, !options.cue.isEmpty()};
}

}  // namespace cli
