'use strict';
// The static check that scripts/lint.js runs: undefined names, unused code, unreachable
// code and accidental globals are errors everywhere.
const js = require('@eslint/js');
const globals = require('globals');

const rules = {
  ...js.configs.recommended.rules,
  strict: 'error',
  'no-implicit-globals': 'error',
};

module.exports = [
  {
    // The page's script parts are checked only as the one script they make together
    // (desktop/ui/app.js, which scripts/lint.js puts together); alone, each would name
    // what the others define.
    ignores: ['build/', 'build-vendor/', 'out/', 'desktop/ui/js/'],
  },
  {
    files: ['desktop/ui/app.js'],
    languageOptions: { sourceType: 'script', globals: { ...globals.browser } },
    rules,
  },
  {
    files: ['**/*.js'],
    ignores: ['desktop/ui/app.js'],
    languageOptions: { sourceType: 'commonjs', globals: { ...globals.node } },
    rules,
  },
  {
    // Node code that hands functions to the browser (page.evaluate, init scripts):
    // those run in the page and use its globals.
    files: ['tests/page/**', 'tests/e2e/**', 'tests/support/**', 'bench/**', 'scripts/page-screenshots.js'],
    languageOptions: { globals: { ...globals.node, ...globals.browser } },
  },
];
