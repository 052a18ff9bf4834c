// The password prompt that appears when the desktop's messages do not open under
// the key alone, or no longer open under the password this page holds.

import { byId } from './dom.js';

export class PasswordCard {
    constructor({ onSubmit }) {
        this.root = byId('passwordCard');
        this.title = byId('passwordTitle');
        this.text = byId('passwordText');
        this.input = byId('passwordInput');
        this.remember = byId('rememberPasswordInput');
        this.rememberRow = byId('rememberPasswordRow');
        this.problem = byId('passwordProblem');
        this.button = byId('passwordButton');
        this.root.addEventListener('submit', (event) => {
            event.preventDefault();
            if (this.input.value === '') return;
            onSubmit(this.input.value, this.remember.checked);
        });
    }

    show(kind, { canRemember }) {
        const wanted = kind === 'needsPassword' || kind === 'wrongPassword';
        const appearing = wanted && this.root.hidden;
        this.root.hidden = !wanted;
        this.rememberRow.hidden = !canRemember;
        if (!wanted) {
            this.input.value = '';
            this.showProblem(null);
            return;
        }
        this.title.textContent = kind === 'wrongPassword' ? 'Wrong password' : 'Password needed';
        this.text.textContent = kind === 'wrongPassword'
            ? 'The password this page holds does not open this computer\'s messages any more. Enter the password set on the computer.'
            : 'This computer seals its messages with a password. Enter the password set on the computer.';
        if (appearing) this.input.focus({ preventScroll: true });
    }

    busy(checking) {
        this.button.disabled = checking;
        this.button.textContent = checking ? 'Checking…' : 'Unlock';
    }

    showProblem(text) {
        this.problem.textContent = text ?? '';
        this.problem.hidden = !text;
    }
}
