#!/usr/bin/env python3
"""A TCP proxy in front of a PostgreSQL Unix socket that holds every client-to-server chunk
for a fixed delay before passing it on, so that each query's round trip takes that much
longer: a database far away on the network, seen from the front-end. Chunks keep their order
and are delayed independently, so a connection that sends while an earlier chunk waits is not
held up twice.

    pg_delay_proxy.py LISTEN_PORT SOCKET_PATH DELAY_MS
"""
import asyncio
import sys


async def pump_delayed(reader, writer, delay):
    queue = asyncio.Queue()

    async def forward():
        loop = asyncio.get_running_loop()
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    sender = asyncio.create_task(forward())
    loop = asyncio.get_running_loop()
    try:
        while data := await reader.read(65536):
            queue.put_nowait((loop.time() + delay, data))
    finally:
        queue.put_nowait((0, None))
        await sender


async def pump(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    finally:
        writer.close()


async def main(port, socket_path, delay):
    async def serve(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_unix_connection(socket_path)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump_delayed(client_reader, server_writer, delay),
                             pump(server_reader, client_writer), return_exceptions=True)

    server = await asyncio.start_server(serve, "127.0.0.1", port)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main(int(sys.argv[1]), sys.argv[2], int(sys.argv[3]) / 1000.0))
