// Type-checks a use of the client against web/sanvero-connector.d.ts, including misuse the types must refuse.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { existsSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import { test } from 'node:test';

const tsc = fileURLToPath(new URL('node_modules/.bin/tsc', import.meta.url));
const project = fileURLToPath(new URL('types/tsconfig.json', import.meta.url));

test(
    'the declarations type-check a typical page',
    { skip: existsSync(tsc) ? false : 'missing npm package typescript (run: npm ci --prefix tests/browser)' },
    async () => {
        const result = await new Promise((resolve) =>
            execFile(tsc, ['-p', project], (error, stdout, stderr) =>
                resolve({ code: error?.code ?? 0, output: stdout + stderr }),
            ),
        );
        assert.equal(result.code, 0, result.output);
    },
);
