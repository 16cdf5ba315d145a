#!/usr/bin/env python3
"""Writes the seed corpora of the parser fuzz targets into corpus/<target>/
(checked in; run again only to regenerate). The media come from the test
servers' own generator (tests/support/stream_http.py, which needs
gst-launch-1.0), cut short; the texts are of the kinds the unit tests read.
Inputs the fuzzer finds later are added next to these. Each target's first
bytes choose how it reads the rest (see the target), hence the prefixes."""
import os
import shutil
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, '..', 'support'))
import stream_http  # noqa: E402


def write(target, name, data):
    folder = os.path.join(here, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def icy_block(title, encoding='latin-1'):
    text = b"StreamTitle='" + title.encode(encoding) + b"';StreamUrl='';"
    text += b'\0' * (-len(text) % 16)
    return bytes([len(text) // 16]) + text


def boxes(data):
    """(offset, size, type) of the boxes side by side in `data`."""
    at, out = 0, []
    while at + 8 <= len(data):
        size = int.from_bytes(data[at:at + 4], 'big')
        out.append((at, size, data[at + 4:at + 8]))
        at += max(8, size)
    return out


def second_trun(fragment):
    """The fragment with its traf's trun twice, the moof and traf grown to
    hold it: the second run of samples begins where its data offset says."""
    moof = next(b for b in boxes(fragment) if b[2] == b'moof')
    traf = next((moof[0] + 8 + b[0], b[1], b[2]) for b in boxes(fragment[moof[0] + 8:moof[0] + moof[1]])
                if b[2] == b'traf')
    trun = next((traf[0] + 8 + b[0], b[1]) for b in boxes(fragment[traf[0] + 8:traf[0] + traf[1]])
                if b[2] == b'trun')
    copy = fragment[trun[0]:trun[0] + trun[1]]
    grown = bytearray(fragment[:trun[0] + trun[1]] + copy + fragment[trun[0] + trun[1]:])
    for at, size in ((moof[0], moof[1]), (traf[0], traf[1])):
        grown[at:at + 4] = (size + len(copy)).to_bytes(4, 'big')
    return bytes(grown)


def chunked(body, size):
    out = b''
    for i in range(0, len(body), size):
        part = body[i:i + size]
        out += b'%x\r\n' % len(part) + part + b'\r\n'
    return out + b'0\r\n\r\n'


media = tempfile.mkdtemp()
try:
    fmp4_durations = stream_http.make_media(media)
    hls = os.path.join(media, 'hls')
    mp3 = open(os.path.join(media, 'tone.mp3'), 'rb').read()
    aac = open(os.path.join(media, 'tone.aac'), 'rb').read()
    ts = open(os.path.join(hls, 'seg0.ts'), 'rb').read()
    init = open(os.path.join(hls, 'fmp4-init.mp4'), 'rb').read()
    fragment = open(os.path.join(hls, 'fmp4-00000.m4s'), 'rb').read()
    ogg_a = open(os.path.join(media, 'a.ogg'), 'rb').read()
    ogg_b = open(os.path.join(media, 'b.ogg'), 'rb').read()
finally:
    shutil.rmtree(media)

# TS: the first byte cuts the stream into pieces.
write('ts', 'aac-whole.ts', b'\0' + ts[:188 * 40])
write('ts', 'aac-pieces.ts', b'\x07' + ts[:188 * 40])
write('ts', 'aac-unsynced.ts', b'\x20' + ts[100:188 * 30])

# fMP4: the first byte says where the init segment ends.
write('fmp4', 'init-and-fragment.mp4', bytes([int(255 * len(init) / (len(init) + len(fragment)))])
      + init + fragment)
write('fmp4', 'fragment.m4s', b'\0' + fragment)
write('fmp4', 'init.mp4', b'\xff' + init)
write('fmp4', 'two-runs.mp4', b'\0' + init + second_trun(fragment))

# Ogg: piece sizes, then where the connection starts over.
chained_ogg = ogg_a[:12000] + ogg_b[:12000]
write('ogg', 'vorbis-chained.ogg', b'\0\0' + chained_ogg)
write('ogg', 'vorbis-pieces-reconnect.ogg', b'\x10\x80' + ogg_a[:6000] + ogg_b[:6000])
write('ogg', 'vorbis-headers.ogg', b'\x40\0' + ogg_b[:4500])

# Frames: MP3 and ADTS; the first byte is the AudioSpecificConfig's size.
write('frames', 'tone.mp3', b'\0' + mp3[:4000])
write('frames', 'tone.aac', b'\0' + aac[:4000])
write('frames', 'config-lc-44k-stereo', b'\x02\x12\x10' + aac[7:300])
write('frames', 'config-he-aac', b'\x05\x2b\x92\x08\x00\x00' + aac[7:300])

# ICY answers: the first byte cuts the body, then head and body.
meta_body = mp3[:64] + icy_block('Café Olé - Fixture') + mp3[64:128] + b'\0' + mp3[128:192] \
    + icy_block('Кино - Группа крови', 'cp1251') + mp3[192:256]
write('icy', 'shoutcast-metaint', b'\x05ICY 200 OK\r\nContent-Type: audio/mpeg\r\n'
      b'icy-name: Fixture ICY\r\nicy-br: 128,128\r\nicy-metaint: 64\r\n\r\n' + meta_body)
write('icy', 'http-chunked-metaint', b'\x21HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\n'
      b'Transfer-Encoding: chunked\r\nicy-metaint: 64\r\n\r\n' + chunked(meta_body, 100))
write('icy', 'http-chunked', b'\x03HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n'
      + b'40;ext=1\r\n' + mp3[:64] + b'\r\n' + chunked(mp3[64:300], 70))
write('icy', 'redirect', b'\0HTTP/1.0 302 Found\r\nLocation: http://radio.example/b\n\n')
write('icy', 'plain', b'\x01HTTP/1.0 200 OK\nContent-Length: 300\n\n' + mp3[:300])

# Titles.
for name, data in [
        ('icy-latin1', icy_block('Café Olé - Fixture')[1:]),
        ('icy-cp1251', icy_block('Кино - Группа крови', 'cp1251')[1:]),
        ('icy-utf8', icy_block('Кино - Группа крови', 'utf-8')[1:]),
        ('icy-shift-jis', icy_block('松任谷由実 - 春よ、来い', 'shift_jis')[1:]),
        ('icy-quote', b"StreamTitle='It''s - a ';title';StreamUrl='http://x/';"),
        ('references', '&#1050;&#x438;&#1085;&#x43E; - &#65; &#0; &#x110000; &amp;#1;'),
        ('tags', b'Title\0Artist'),
        ('koi8', 'Кино - Кукушка'.encode('koi8_r')),
        ('split', ' - Artist - Title - '),
]:
    write('title', name, data)

# HLS playlists: the test server's live ones, and masters.
write('hls', 'live-ts.m3u8', stream_http.live_playlist(30, [1.0] * 12, 'seg%d.ts', 6))
write('hls', 'live-fmp4.m3u8', stream_http.live_playlist(30, fmp4_durations, 'fmp4-%05d.m4s', 6))
write('hls', 'vod.m3u8', '#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:4\n'
      '#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:3.99,\nseg0.ts\n#EXTINF:3.99,\nseg1.ts\n'
      '#EXTINF:3.99,\nhttp://cdn.example/seg2.ts\n#EXT-X-ENDLIST\n')
write('hls', 'master.m3u8', '#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS="mp4a.40.2"\n'
      'hi/index.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=64000\nlo/index.m3u8\n')
write('hls', 'master-audio-group.m3u8', '#EXTM3U\n'
      '#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aud",NAME="en",DEFAULT=NO,URI="en/a.m3u8"\n'
      '#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID="aud",NAME="de",DEFAULT=YES,URI="de/a.m3u8"\n'
      '#EXT-X-STREAM-INF:BANDWIDTH=1,AUDIO="aud"\nvideo.m3u8\n')
write('hls', 'local-and-odd.m3u8', '#EXTM3U\r\n#EXT-X-TARGETDURATION:10\r\n'
      '#EXT-X-MEDIA-SEQUENCE:42\r\n#EXT-X-MAP:URI="file:///etc/passwd"\r\n#EXTINF:-1,\r\n'
      'a.ts\r\n#EXT-X-DISCONTINUITY-SEQUENCE:3\r\n#EXTINF:2.5,title, with comma\r\n'
      'file:///x.ts\r\n#EXTINF:2,\r\n\r\nb.aac\r\n')

# Playlists: the first byte picks the Content-Type (see the target).
for name, data in [
        ('pls', b'\x01[playlist]\nFile1=http://s.example/a\nTitle1=A\nFile2=file:///x\n'
                b'File3=//s.example/b\nNumberOfEntries=3\nVersion=2\n'),
        ('m3u', b'\x02#EXTM3U\n#EXTINF:-1,A\nhttp://s.example/a\n\nrelative/b.mp3\n'
                b'javascript:alert(1)\n'),
        ('m3u-bare', b'\x06http://s.example/a\r\nhttp://s.example/b\r\n'),
        ('xspf', b'\x04<?xml version="1.0"?><playlist version="1" xmlns="http://xspf.org/ns/0/">'
                 b'<trackList><track><location>http://s.example/a</location></track>'
                 b'<track><location>b.ogg</location></track></trackList></playlist>'),
        ('asx', b'\x05<ASX version="3.0"><Entry><Ref href="http://s.example/a"/></Entry>'
                b'<ENTRY><REF HREF="mms://s.example/b"/></ENTRY><entry><ref href="c"/></entry></ASX>'),
        ('hls', b'\x03#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\nseg0.ts\n'),
        ('html', b'\x07<!DOCTYPE html><html><body>Not found</body></html>'),
        ('binary', b'\x08' + mp3[:200]),
]:
    write('playlist', name, data)

# Other players' station lists.
for name, data in [
        ('m3u', '#EXTM3U\n#EXTINF:-1 tvg-logo="http://i.example/a.png",A, "b"\nhttp://s.example/a\n'
                'javascript:x\n#EXTINF:-1,<b>\x01\u202e\nhttps://s.example/b\n'),
        ('pls', '[playlist]\nFile1=http://s.example/a\nTitle1=A\nFile2=file:///x\nNumberOfEntries=2\n'),
        ('xspf', '<playlist xmlns="http://xspf.org/ns/0/"><trackList><track><location>'
                 'http://s.example/a</location><title>A</title><image>http://i.example/a</image>'
                 '</track><track><location>ftp://x</location></track></trackList></playlist>'),
        ('goodvibes.xml', '<?xml version="1.0" encoding="UTF-8"?>\n<Stations><Station><name>A</name>'
                          '<uri>http://s.example/a</uri></Station><Station><name>B &amp; C</name>'
                          '<uri>https://s.example/b</uri></Station></Stations>\n'),
        ('radiotray.json', '[{"group":"g","image":"x","stations":[{"name":"A","url":"http://s.example/a",'
                           '"image":"http://i.example/a"},{"name":"B","url":"file:///b"}]},'
                           '{"group":"h","stations":[]}]'),
        ('duplicates.m3u', '#EXTM3U\nhttp://S.example:80/a\nhttp://s.example/a#x\nhttp://s.example\n'),
]:
    write('import', name, data)
