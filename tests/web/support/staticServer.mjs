// A plain static file server on loopback for the tests that load the app's
// source modules directly (http://127.0.0.1 is a secure context, so WebCrypto is there).

import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';

const types = { '.js': 'text/javascript', '.mjs': 'text/javascript', '.json': 'application/json',
    '.html': 'text/html', '.css': 'text/css', '.svg': 'image/svg+xml', '.png': 'image/png',
    '.webmanifest': 'application/manifest+json' };

export async function startStaticServer(roots) {
    const server = createServer(async (request, response) => {
        const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
        for (const [prefix, dir] of Object.entries(roots)) {
            if (!path.startsWith(prefix)) continue;
            try {
                const body = await readFile(join(dir, path.slice(prefix.length)));
                response.writeHead(200, { 'content-type': types[extname(path)] ?? 'application/octet-stream' });
                response.end(body);
                return;
            } catch {
                break;
            }
        }
        if (path === '/') {
            response.writeHead(200, { 'content-type': 'text/html' });
            response.end('<!doctype html><title>test</title>');
            return;
        }
        response.writeHead(404);
        response.end();
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    return { url: `http://127.0.0.1:${server.address().port}`, close: () => new Promise((r) => server.close(r)) };
}
