"""An HTTP proxy that serves CONNECT only, for the uploader's proxy test.

Each tunnel it opens is logged as "CONNECT host:port" to --log; only
127.0.0.1 is reached. The chosen port is written to --port-file.
"""

import argparse
import asyncio
import os
import sys


async def pipe(reader, writer):
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            writer.write(data)
            await writer.drain()
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        writer.close()


async def serve(args):
    log = open(args.log, "a", buffering=1)

    async def client(reader, writer):
        request = await reader.readuntil(b"\r\n\r\n")
        method, target = request.split(b" ")[:2]
        host, _, port = target.decode().rpartition(":")
        if method != b"CONNECT" or host != "127.0.0.1":
            writer.write(b"HTTP/1.1 403 Forbidden\r\n\r\n")
            writer.close()
            return
        log.write("CONNECT %s\n" % target.decode())
        try:
            up_reader, up_writer = await asyncio.open_connection(host, int(port))
        except OSError:
            writer.write(b"HTTP/1.1 502 Bad Gateway\r\n\r\n")
            writer.close()
            return
        writer.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
        await asyncio.gather(pipe(reader, up_writer), pipe(up_reader, writer))

    server = await asyncio.start_server(client, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as out:
        out.write("%d\n" % port)
    os.rename(tmp, args.port_file)
    async with server:
        await server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    asyncio.run(serve(parser.parse_args()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
